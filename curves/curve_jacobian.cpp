#include "curves/curve_jacobian.hpp"

#include "curves/curve_future.hpp"
#include "curves/dense_lu.hpp"
#include "curves/period_value.hpp"
#include "curves/yield_curve.hpp"
#include "products/product_interest_rate_swap.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tsr {

// The price is the bootstrap's: per leg the sum of df(payment) x rate x fraction over periods
// of non-zero fraction, the rate being the fixed rate (leg 1's set by the quote) or the margin
// plus the simple forward of the period; paid legs negated.
double instrumentDerivatives(const YieldCurve& curve, const ProductInterestRateSwap& swap,
                             double quote, double* row) {
    // The moments' part is summed per moment and spread over the rates once, at the end.
    std::vector<double> byMoment(curve.momentCount(), 0.0);
    const auto accumulate = [&](const YieldCurve::DfSensitivity& df, double adjoint,
                                double* target) {
        curve.gatherDerivatives(df, adjoint, target, byMoment.data());
    };
    // A period starts where the last one ended and both legs pay on the same days, so each
    // date's sensitivity is found once and looked up after.
    std::vector<std::pair<date, YieldCurve::DfSensitivity>> seen;
    const auto at = [&](const date& d) {
        for (auto it = seen.rbegin(); it != seen.rend(); ++it) {
            if (it->first == d) {
                return it->second;
            }
        }
        seen.emplace_back(d, curve.dfSensitivity(curve.point(d)));
        return seen.back().second;
    };
    double byQuote = 0.0;
    const auto& legs = swap.legs();
    for (std::size_t l = 0; l < legs.size(); ++l) {
        const auto& leg = legs[l];
        const double sign = leg.isPaid ? -1.0 : 1.0;
        const bool quoted = l == 0 && leg.isFixed;
        const double fixedRate = quoted ? quote / 100.0 : leg.rate;
        for (std::size_t j = 0; j < leg.paymentDates.size(); ++j) {
            const double fraction = leg.dayCountFractions[j];
            if (fraction == 0.0) {
                continue;
            }
            const auto payment = at(leg.paymentDates[j]);
            if (leg.isFixed) {
                accumulate(payment, sign * fixedRate * fraction, row);
                if (quoted) {
                    byQuote += sign * payment.value * fraction / 100.0;
                }
                continue;
            }
            const auto start = at(leg.accrualStartDates[j]);
            const auto end = at(leg.accrualEndDates[j]);
            const double rate = leg.margin + period::forwardRate(start.value, end.value, fraction);
            accumulate(payment, sign * rate * fraction, row);
            accumulate(start, sign * payment.value / end.value, row);
            accumulate(end, -sign * payment.value * start.value / (end.value * end.value), row);
        }
    }
    curve.addMomentDerivatives(byMoment.data(), row);
    return byQuote;
}

CurveJacobian::CurveJacobian(const YieldCurve& curve)
    : pillars_(curve.pillarRates().size()), instruments_(curve.instrumentSet().quotes.size()),
      values_(pillars_ * instruments_, 0.0) {
    const auto& pillarInstruments = curve.pillarInstruments();
    const auto& rows = curve.pillarRows();
    if (instruments_ == 0) {
        return; // made from pillars: nothing to differentiate by
    }
    if (pillarInstruments.size() != pillars_ || rows.size() != pillars_) {
        throw std::logic_error("Error, the curve has " + std::to_string(pillars_) +
                               " pillars and " + std::to_string(pillarInstruments.size()) +
                               " instruments.");
    }
    const std::size_t n = pillars_;
    // dP/dr, row k for instrument k; only its lower triangle can be non-zero.
    std::vector<double> byRate(n * n, 0.0);
    std::vector<double> byQuote(n, 0.0);
    for (std::size_t k = 0; k < n; ++k) {
        if (const auto& future = pillarInstruments[k].future) {
            // Implied rate less the futures rate (its quote) plus the convexity, in percent.
            future->differentiate(curve, 1.0, &byRate[k * n]);
            byQuote[k] = -1.0;
        } else {
            const auto& swap =
                dynamic_cast<const ProductInterestRateSwap&>(*pillarInstruments[k].swap);
            byQuote[k] =
                instrumentDerivatives(curve, swap, pillarInstruments[k].quote, &byRate[k * n]);
        }
        if (byRate[k * n + k] == 0.0) {
            throw std::runtime_error("Error, the value of the instrument of pillar " +
                                     std::to_string(k) + " does not move with its rate.");
        }
    }
    // Pillars solved together (a spline), or an instrument paying after its pillar: dP/dr
    // has entries above its diagonal and is solved in full.
    if (curve.pillarsTogether()) {
        const DenseLu lu(std::move(byRate), n);
        std::vector<double> x(n);
        for (std::size_t k = 0; k < n; ++k) {
            std::fill(x.begin(), x.end(), 0.0);
            x[k] = -byQuote[k];
            lu.solve(x.data());
            for (std::size_t i = 0; i < n; ++i) {
                values_[i * instruments_ + rows[k]] = x[i];
            }
        }
        return;
    }
    // Column k of dr/dq: solve dP/dr x = -e_k dP_k/dq_k by forward substitution. Rates of
    // pillars before k do not move.
    std::vector<double> x(n, 0.0);
    for (std::size_t k = 0; k < n; ++k) {
        x[k] = -byQuote[k] / byRate[k * n + k];
        for (std::size_t i = k + 1; i < n; ++i) {
            double sum = 0.0;
            for (std::size_t l = k; l < i; ++l) {
                sum += byRate[i * n + l] * x[l];
            }
            x[i] = -sum / byRate[i * n + i];
        }
        for (std::size_t i = k; i < n; ++i) {
            values_[i * instruments_ + rows[k]] = x[i];
        }
    }
}

} // namespace tsr
