#pragma once

#include "conventions/index.hpp"
#include "core/object_tree.hpp"

#include <string>

namespace tsr {

// An overnight index. Calendar and day count stay text until the index is
// used, so an index can be described before its calendar is registered.
class OisIndex : public Index {
public:
    explicit OisIndex(const ObjectTree& tree);
    ~OisIndex() override;

    // Empty when the description names no currency.
    const std::string& currency() const { return currency_; }
    const std::string& calendar() const { return calendar_; }
    const std::string& dayCount() const { return dayCount_; }

private:
    std::string currency_;
    std::string calendar_;
    std::string dayCount_;
};

} // namespace tsr
