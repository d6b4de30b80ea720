#pragma once

#include "core/object_tree.hpp"

#include <string>
#include <vector>

namespace tsr {

// A key-rate risk ladder: per curve instrument, in input order, the change of each leg's
// value and of the swap's value per 1.00 move of the instrument's quote (percent).
struct KeyRateRisk {
    std::vector<std::string> tenors;
    std::vector<double> leg1;
    std::vector<double> leg2;
    std::vector<double> net;
};

// The ladder as the tree ModelDiscountedCashFlow::risk returns: "Tenor", "Leg1", "Leg2", "Net".
ObjectTree toTree(const KeyRateRisk& risk);

} // namespace tsr
