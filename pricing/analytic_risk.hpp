#pragma once

#include "core/date.hpp"
#include "core/object_tree.hpp"
#include "pricing/key_rate_risk.hpp"
#include "pricing/model_discounted_cash_flow.hpp"
#include "products/product.hpp"
#include "products/product_interest_rate_swap.hpp"

#include <memory>
#include <span>

namespace tsr {

// Key-rate risk without bumping: the gradient of each leg's value with respect to the pillar
// rates of the curve under leg 1's currency, times that curve's Jacobian. The same ladder as
// ModelDiscountedCashFlow::risk, instrument by instrument, without its finite-difference
// noise: every key of the map stands for that curve, and instruments whose pillar cannot move
// the swap report zeros. Thread-safe on shared curves; the curve's Jacobian is made on first
// use.
KeyRateRisk analyticRisk(const ProductInterestRateSwap& swap, const CurveMap& curves,
                         const FixingsMap& fixings);

// The same numbers written into leg1, leg2 and net, one entry per instrument of the curve;
// entries of instruments that cannot move the swap are set to zero. Throws
// std::invalid_argument when a span has another size.
// `known` gives growths of running periods found beforehand.
void analyticRisk(const ProductInterestRateSwap& swap, const CurveMap& curves,
                  const FixingsMap& fixings, std::span<double> leg1, std::span<double> leg2,
                  std::span<double> net, const KnownGrowths* known = nullptr);

// The number of leading pillars of the curve that can move a swap ending on `horizon`: the
// first, and each whose predecessor lies before the horizon.
std::size_t movingPillars(const YieldCurve& curve, const date& horizon);

// Key-rate risk from each leg's gradient in the pillar rates of `base`, through its Jacobian,
// into the instruments of the first `moving` pillars; the other entries are left alone.
void riskOfGradients(const YieldCurve& base, std::size_t moving, std::span<const double> leg1,
                     std::span<const double> leg2, std::span<double> leg1Risk,
                     std::span<double> leg2Risk, std::span<double> netRisk);

// The same as a tree "Tenor", "Leg1", "Leg2", "Net"; "Unsupported product." for anything but
// a swap.
ObjectTree analyticRiskTree(const std::shared_ptr<const Product>& product, const CurveMap& curves,
                            const FixingsMap& fixings);

} // namespace tsr
