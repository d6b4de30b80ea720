#pragma once

#include "core/date.hpp"
#include "core/object.hpp"
#include "core/object_tree.hpp"

#include <string>

namespace tsr {

// A tradable instrument built from conventions and trade data.
class Product : public Object {
public:
    explicit Product(const ObjectTree& tree);
    explicit Product(std::string id);
    ~Product() override;

    // The last date on which the product has a cash flow.
    virtual date lastDate() const = 0;

    const std::string& id() const { return id_; }

private:
    std::string id_;
};

} // namespace tsr
