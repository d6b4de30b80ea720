#pragma once

#include "core/object_tree.hpp"
#include "pricing/key_rate_risk.hpp"
#include "pricing/model_discounted_cash_flow.hpp"
#include "products/product.hpp"
#include "products/product_interest_rate_swap.hpp"

#include <memory>

namespace tsr {

// Key-rate risk without bumping: the gradient of each leg's value with respect to the pillar
// rates of the curve under leg 1's currency, times that curve's Jacobian. The same ladder as
// ModelDiscountedCashFlow::risk, instrument by instrument, without its finite-difference
// noise: every key of the map stands for that curve, and instruments whose pillar cannot move
// the swap report zeros. Thread-safe on shared curves; the curve's Jacobian is made on first
// use.
KeyRateRisk analyticRisk(const ProductInterestRateSwap& swap, const CurveMap& curves,
                         const FixingsMap& fixings);

// The same as a tree "Tenor", "Leg1", "Leg2", "Net"; "Unsupported product." for anything but
// a swap.
ObjectTree analyticRiskTree(const std::shared_ptr<const Product>& product, const CurveMap& curves,
                            const FixingsMap& fixings);

} // namespace tsr
