#pragma once

#include "core/object.hpp"

#include <string>

namespace tsr {

// A published rate that floating legs refer to by name.
class Index : public Object {
public:
    explicit Index(std::string id);
    ~Index() override;

    const std::string& id() const { return id_; }

private:
    std::string id_;
};

} // namespace tsr
