#pragma once

#include "pricing/model_discounted_cash_flow.hpp"
#include "products/product_interest_rate_swap.hpp"

#include <array>
#include <cstddef>
#include <vector>

namespace tsr {

class YieldCurve;

// The value of each leg of a swap as ModelDiscountedCashFlow::price computes it, with every
// curve lookup answered by one curve, and its gradient with respect to that curve's pillar
// rates, found by one reverse pass over the cash flows. Realised fixings are constants; the
// rest of a running period (df of its end, and of the next business day when today's fixing
// is known) comes from the curve. Payments on or before the value date count for nothing.
// The buffers are kept from one call to the next, so a reused object allocates nothing.
class SwapGradient {
public:
    // The keys are looked up in `curves`, in price's order and with its messages, but every
    // leg is discounted and projected on `curve`.
    // `known` gives growths of running periods found beforehand.
    void compute(const ProductInterestRateSwap& swap, const CurveMap& curves,
                 const FixingsMap& fixings, const YieldCurve& curve,
                 const KnownGrowths* known = nullptr);

    // Signed as the legs count in the swap's value (paid legs negative); leg 0 or 1.
    double value(std::size_t leg) const { return values_[leg]; }
    // d(value of the leg)/d(pillar rate k), one entry per pillar of the curve.
    const std::vector<double>& gradient(std::size_t leg) const { return gradients_[leg]; }

private:
    double leg(std::size_t k, const ProductInterestRateSwap::SwapLeg& leg,
               const FixingsMap& fixings, const YieldCurve& curve, const KnownGrowths* known,
               std::vector<double>& gradient) const;

    std::array<double, 2> values_{};
    std::array<std::vector<double>, 2> gradients_;
};

} // namespace tsr
