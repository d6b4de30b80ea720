#pragma once

#include "core/object.hpp"
#include "core/object_tree.hpp"

#include <string>

namespace tsr {

// A named set of market conventions from which instruments are generated.
class Generator : public Object {
public:
    explicit Generator(const ObjectTree& tree);
    ~Generator() override;

    const std::string& id() const { return id_; }

private:
    std::string id_;
};

} // namespace tsr
