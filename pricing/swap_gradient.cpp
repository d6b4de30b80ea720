#include "pricing/swap_gradient.hpp"

#include "conventions/index_repository.hpp"
#include "conventions/ois_index.hpp"
#include "core/shown_text.hpp"
#include "curves/period_value.hpp"
#include "curves/yield_curve.hpp"
#include "dates/calendar_repository.hpp"
#include "dates/date_arithmetic.hpp"
#include "dates/day_counter.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace tsr {

namespace {

using Sensitivity = YieldCurve::DfSensitivity;

// Every key of the map stands for the one curve, so only its presence is checked.
void requireCurve(const CurveMap& curves, const std::string& key, const char* message) {
    if (curves.find(key) == curves.end()) {
        throw std::runtime_error(message + shownText(key));
    }
}

// The discount curve of a leg, and its estimation curve when it floats.
void requireLegCurves(const CurveMap& curves, const ProductInterestRateSwap::SwapLeg& leg) {
    requireCurve(curves, leg.currency, "No discount curve is provided for currency ");
    if (!leg.isFixed) {
        requireCurve(curves, leg.index, "No estimation curve is provided for index ");
    }
}

// A period's projected rate and the discount factors it reads, with d(rate)/d(each factor).
// The rate is `constant` plus a multiple of the product of the factors, each raised to its
// power in `powers`.
struct ProjectedRate {
    double rate = 0.0;
    std::size_t count = 0;
    std::array<Sensitivity, 2> dfs{};
    std::array<double, 2> byDf{};
    double constant = 0.0;
    std::array<int, 2> powers{};
};

// A rate read from two discount factors, as first / second: a forward, or a running period
// from the next business day.
ProjectedRate ratio(const Sensitivity& first, const Sensitivity& second,
                    const period::RateAdjoint& adjoint) {
    return {adjoint.rate,     2,      {first, second}, {adjoint.byFirst, adjoint.bySecond},
            adjoint.constant, {1, -1}};
}

// The rate of a period running over the value date v: realised fixings compounded over the
// index calendar's business days in [start, v), the curve from v on, in the model's order.
ProjectedRate runningRate(const ProductInterestRateSwap::SwapLeg& leg, const YieldCurve& curve,
                          const OisIndex& index, const DayCounter& dayCounter,
                          const FixingsMap& fixings, date start, date end, double tau,
                          const RealisedGrowth* known) {
    const RealisedGrowth realised =
        known != nullptr
            ? *known
            : realisedGrowth(leg, index, dayCounter, fixings, start, curve.valueDate());
    ProjectedRate result;
    const Sensitivity dfEnd = curve.dfSensitivity(curve.point(end));
    if (realised.hasToday) {
        // Today's fixing covers v to the next business day h.
        const Sensitivity dfNext = curve.dfSensitivity(curve.point(realised.nextBusinessDay));
        return ratio(dfNext, dfEnd,
                     period::runningRateFromNextAdjoint(realised.todayGrowth, dfNext.value,
                                                        dfEnd.value, tau));
    }
    const period::RateAdjoint adjoint =
        period::runningRateAdjoint(realised.growth, dfEnd.value, tau);
    result.rate = adjoint.rate;
    result.count = 1;
    result.dfs[0] = dfEnd;
    result.byDf[0] = adjoint.byFirst;
    result.constant = adjoint.constant;
    result.powers = {-1, 0};
    return result;
}

} // namespace

void SwapGradient::compute(const ProductInterestRateSwap& swap, const CurveMap& curves,
                           const FixingsMap& fixings, const YieldCurve& curve,
                           const KnownGrowths* known) {
    const std::size_t n = curve.pillarRates().size();
    for (std::size_t l = 0; l < 2; ++l) {
        const auto& leg = swap.legs()[l];
        requireLegCurves(curves, leg);
        gradients_[l].assign(n, 0.0);
        values_[l] = this->leg(l, leg, fixings, curve, known, gradients_[l], false);
    }
}

void SwapGradient::computeSecondOrder(const ProductInterestRateSwap& swap, const CurveMap& curves,
                                      const FixingsMap& fixings, const YieldCurve& curve,
                                      const KnownGrowths* known,
                                      std::span<const double> direction) {
    const std::size_t n = curve.pillarRates().size();
    if (!direction.empty() && direction.size() != n) {
        throw std::invalid_argument("Error, a direction has one entry per pillar.");
    }
    pillars_ = n;
    direction_ = direction;
    curve_ = &curve;
    if (direction.empty()) {
        hessian_.assign(n * n, 0.0);
        hessianDirection_.clear();
    } else {
        hessian_.clear();
        hessianDirection_.assign(n, 0.0);
    }
    for (std::size_t l = 0; l < 2; ++l) {
        const auto& leg = swap.legs()[l];
        requireLegCurves(curves, leg);
        gradients_[l].assign(n, 0.0);
        values_[l] = this->leg(l, leg, fixings, curve, known, gradients_[l], true);
    }
}

void SwapGradient::addTerm(double value, std::span<const Sensitivity* const> factors,
                           std::span<const int> powers) {
    for (const Sensitivity* factor : factors) {
        if (factor->momentCount > 0) {
            addDenseTerm(value, factors, powers);
            return;
        }
    }
    // At most three factors of two pillars each.
    std::array<std::size_t, 6> pillars{};
    std::array<double, 6> slopes{};
    std::size_t count = 0;
    for (std::size_t f = 0; f < factors.size(); ++f) {
        const Sensitivity& s = *factors[f];
        for (std::size_t j = 0; j < s.count; ++j) {
            pillars[count] = s.pillars[j];
            slopes[count] = powers[f] * s.derivatives[j] / s.value;
            ++count;
        }
    }
    if (direction_.empty()) {
        for (std::size_t a = 0; a < count; ++a) {
            const double row = value * slopes[a];
            double* target = hessian_.data() + pillars[a] * pillars_;
            for (std::size_t b = 0; b < count; ++b) {
                target[pillars[b]] += row * slopes[b];
            }
        }
        return;
    }
    double along = 0.0;
    for (std::size_t a = 0; a < count; ++a) {
        along += slopes[a] * direction_[pillars[a]];
    }
    for (std::size_t a = 0; a < count; ++a) {
        hessianDirection_[pillars[a]] += value * along * slopes[a];
    }
}

void SwapGradient::addDenseTerm(double value, std::span<const Sensitivity* const> factors,
                                std::span<const int> powers) {
    const std::size_t n = pillars_;
    denseSlopes_.assign(n, 0.0);
    for (std::size_t f = 0; f < factors.size(); ++f) {
        curve_->addDerivatives(*factors[f], powers[f] / factors[f]->value, denseSlopes_.data());
    }
    if (direction_.empty()) {
        for (std::size_t a = 0; a < n; ++a) {
            const double row = value * denseSlopes_[a];
            double* target = hessian_.data() + a * n;
            for (std::size_t b = 0; b < n; ++b) {
                target[b] += row * denseSlopes_[b];
            }
        }
        return;
    }
    double along = 0.0;
    for (std::size_t a = 0; a < n; ++a) {
        along += denseSlopes_[a] * direction_[a];
    }
    for (std::size_t a = 0; a < n; ++a) {
        hessianDirection_[a] += value * along * denseSlopes_[a];
    }
}

double SwapGradient::leg(std::size_t k, const ProductInterestRateSwap::SwapLeg& leg,
                         const FixingsMap& fixings, const YieldCurve& curve,
                         const KnownGrowths* known, std::vector<double>& gradient, bool second) {
    const OisIndex* index = nullptr;
    DayCounter dayCounter(DayCounter::Convention::Act360);
    if (!leg.isFixed) {
        index = &IndexRepository::instance().at<OisIndex>(leg.index);
        dayCounter = DayCounter(index->dayCount());
    }
    const date v = curve.valueDate();
    double pv = 0.0;
    for (std::size_t i = 0; i < leg.paymentDates.size(); ++i) {
        ProjectedRate projected;
        projected.rate = leg.rate;
        if (!leg.isFixed) {
            const date start = leg.accrualStartDates[i];
            const date end = leg.accrualEndDates[i];
            const double tau = dayCounter.fraction(start, end);
            if (v >= end || tau == 0.0) {
                projected.rate = 0.0; // over, or adjusted to nothing
            } else if (start >= v) {
                const Sensitivity dfStart = curve.dfSensitivity(curve.point(start));
                const Sensitivity dfEnd = curve.dfSensitivity(curve.point(end));
                projected = ratio(dfStart, dfEnd,
                                  period::forwardRateAdjoint(dfStart.value, dfEnd.value, tau));
            } else {
                projected = runningRate(leg, curve, *index, dayCounter, fixings, start, end, tau,
                                        known != nullptr ? (*known)(k, start) : nullptr);
            }
        }
        // Payments on or before the value date are settled.
        if (!(v < leg.paymentDates[i])) {
            continue;
        }
        const Sensitivity dfPayment = curve.dfSensitivity(curve.point(leg.paymentDates[i]));
        const double amount = leg.dayCountFractions[i] * leg.notional;
        pv += period::couponValue(amount, projected.rate, leg.margin, dfPayment.value);
        addCoupon(curve, gradient, amount, projected.rate, leg.margin, dfPayment, projected.count,
                  {&projected.dfs[0], &projected.dfs[1]}, projected.byDf);
        if (second) {
            // amount x (rate + margin) x df(payment), split into the product of factors and
            // the rest, each exp(linear in the rates).
            const double sign = leg.isPaid ? -1.0 : 1.0;
            const std::array<const Sensitivity*, 3> factors{&dfPayment, &projected.dfs[0],
                                                            &projected.dfs[1]};
            const std::array<int, 3> powers{1, projected.powers[0], projected.powers[1]};
            if (projected.count == 0) {
                addTerm(sign * amount * (projected.rate + leg.margin) * dfPayment.value,
                        std::span(factors).first(1), std::span(powers).first(1));
            } else {
                addTerm(sign * amount * (projected.rate - projected.constant) * dfPayment.value,
                        std::span(factors).first(1 + projected.count),
                        std::span(powers).first(1 + projected.count));
                addTerm(sign * amount * (projected.constant + leg.margin) * dfPayment.value,
                        std::span(factors).first(1), std::span(powers).first(1));
            }
        }
    }
    if (leg.isPaid) {
        for (double& g : gradient) {
            g = -g;
        }
        return -pv;
    }
    return pv;
}

} // namespace tsr
