#pragma once

#include "curves/yield_curve.hpp"
#include "pricing/model_discounted_cash_flow.hpp"
#include "products/product_interest_rate_swap.hpp"

#include <array>
#include <cstddef>
#include <span>
#include <vector>

namespace tsr {

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

    // The same, and the second derivatives of the net value with respect to the pillar rates.
    // Every discount factor is exp(-(linear in the rates)), and each cash flow is a constant
    // times a product of discount factors plus a constant times one, so each term's Hessian is
    // its value times the outer product of its log-gradient: exact, in the same pass. Without
    // `direction` the whole Hessian (pillars x pillars, row-major) is kept; with it (one entry
    // per pillar) only the Hessian times it, and the quadratic form of it. On MonotoneConvex
    // the log discount factors are linear in the rates between the positivity bounds of the
    // node forwards, so the Hessian is that of the piece the rates are in.
    void computeSecondOrder(const ProductInterestRateSwap& swap, const CurveMap& curves,
                            const FixingsMap& fixings, const YieldCurve& curve,
                            const KnownGrowths* known, std::span<const double> direction);
    const std::vector<double>& hessian() const { return hessian_; }
    const std::vector<double>& hessianTimesDirection() const { return hessianDirection_; }

    // Signed as the legs count in the swap's value (paid legs negative); leg 0 or 1.
    double value(std::size_t leg) const { return values_[leg]; }
    // d(value of the leg)/d(pillar rate k), one entry per pillar of the curve.
    const std::vector<double>& gradient(std::size_t leg) const { return gradients_[leg]; }

    // Adds one coupon to a leg's gradient, as compute() does: `amount` (fraction x notional)
    // at rate + margin, paid on a date of sensitivity `payment`, the rate reading the first
    // `count` factors of `dfs` with the derivatives `byDf`.
    static void addCoupon(const YieldCurve& curve, std::span<double> gradient, double amount,
                          double rate, double margin, const YieldCurve::DfSensitivity& payment,
                          std::size_t count,
                          const std::array<const YieldCurve::DfSensitivity*, 2>& dfs,
                          const std::array<double, 2>& byDf) {
        curve.addDerivatives(payment, amount * (rate + margin), gradient.data());
        const double byRate = amount * payment.value;
        for (std::size_t j = 0; j < count; ++j) {
            curve.addDerivatives(*dfs[j], byRate * byDf[j], gradient.data());
        }
    }

private:
    double leg(std::size_t k, const ProductInterestRateSwap::SwapLeg& leg,
               const FixingsMap& fixings, const YieldCurve& curve, const KnownGrowths* known,
               std::vector<double>& gradient, bool second);
    // Adds value x l l' (or its product with the direction) for the log-gradient l
    // made of the sensitivities of `factors`, each raised to the power in `powers`.
    void addTerm(double value, std::span<const YieldCurve::DfSensitivity* const> factors,
                 std::span<const int> powers);

    std::array<double, 2> values_{};
    std::array<std::vector<double>, 2> gradients_;
    std::vector<double> hessian_;
    std::vector<double> hessianDirection_;
    std::span<const double> direction_;
    std::size_t pillars_ = 0;
    // A spline curve's factors depend on every pillar: their log-gradients are dense.
    const YieldCurve* curve_ = nullptr;
    std::vector<double> denseSlopes_;
    void addDenseTerm(double value, std::span<const YieldCurve::DfSensitivity* const> factors,
                      std::span<const int> powers);
};

} // namespace tsr
