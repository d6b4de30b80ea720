#include "curves/curve_jacobian.hpp"

#include "curves/curve_future.hpp"
#include "curves/yield_curve.hpp"
#include "products/product_interest_rate_swap.hpp"

#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

namespace tsr {

namespace {

// Adds d(value)/d(rates) of a discount factor, scaled by the adjoint of that factor.
void accumulate(const YieldCurve::DfSensitivity& df, double adjoint, double* row) {
    for (std::size_t j = 0; j < df.count; ++j) {
        row[df.pillars[j]] += adjoint * df.derivatives[j];
    }
}

// Row k of dP/dr for the instrument of pillar k, and dP_k/dq_k. The price is the bootstrap's:
// per leg the sum of df(payment) x rate x fraction over periods of non-zero fraction, the
// rate being the fixed rate (leg 1's set by the quote) or the margin plus the simple forward
// of the period; paid legs negated.
double differentiateInstrument(const YieldCurve& curve, const ProductInterestRateSwap& swap,
                               double quote, double* row) {
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
            const auto payment = curve.dfSensitivity(curve.point(leg.paymentDates[j]));
            if (leg.isFixed) {
                accumulate(payment, sign * fixedRate * fraction, row);
                if (quoted) {
                    byQuote += sign * payment.value * fraction / 100.0;
                }
                continue;
            }
            const auto start = curve.dfSensitivity(curve.point(leg.accrualStartDates[j]));
            const auto end = curve.dfSensitivity(curve.point(leg.accrualEndDates[j]));
            const double rate = leg.margin + (start.value / end.value - 1.0) / fraction;
            accumulate(payment, sign * rate * fraction, row);
            accumulate(start, sign * payment.value / end.value, row);
            accumulate(end, -sign * payment.value * start.value / (end.value * end.value), row);
        }
    }
    return byQuote;
}

} // namespace

// Column k of dr/dq for a dP/dr with entries above its diagonal (an instrument paying after
// its pillar): dP/dr x = -e_k dP_k/dq_k by Gaussian elimination with partial pivoting.
void CurveJacobian::solveFull(std::vector<double> byRate, const std::vector<double>& byQuote,
                              const std::vector<std::size_t>& rows) {
    const std::size_t n = pillars_;
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) {
        order[i] = i;
    }
    for (std::size_t c = 0; c < n; ++c) {
        std::size_t pivot = c;
        for (std::size_t i = c + 1; i < n; ++i) {
            if (std::abs(byRate[i * n + c]) > std::abs(byRate[pivot * n + c])) {
                pivot = i;
            }
        }
        if (byRate[pivot * n + c] == 0.0) {
            throw std::runtime_error("Error, the instruments do not determine pillar " +
                                     std::to_string(c) + ".");
        }
        if (pivot != c) {
            for (std::size_t j = 0; j < n; ++j) {
                std::swap(byRate[c * n + j], byRate[pivot * n + j]);
            }
            std::swap(order[c], order[pivot]);
        }
        for (std::size_t i = c + 1; i < n; ++i) {
            const double factor = byRate[i * n + c] / byRate[c * n + c];
            byRate[i * n + c] = factor;
            for (std::size_t j = c + 1; j < n; ++j) {
                byRate[i * n + j] -= factor * byRate[c * n + j];
            }
        }
    }
    std::vector<double> x(n);
    for (std::size_t k = 0; k < n; ++k) {
        // Right-hand side -e_k dP_k/dq_k, permuted as the rows were.
        for (std::size_t i = 0; i < n; ++i) {
            x[i] = order[i] == k ? -byQuote[k] : 0.0;
        }
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t j = 0; j < i; ++j) {
                x[i] -= byRate[i * n + j] * x[j];
            }
        }
        for (std::size_t i = n; i-- > 0;) {
            for (std::size_t j = i + 1; j < n; ++j) {
                x[i] -= byRate[i * n + j] * x[j];
            }
            x[i] /= byRate[i * n + i];
        }
        for (std::size_t i = 0; i < n; ++i) {
            values_[i * instruments_ + rows[k]] = x[i];
        }
    }
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
                differentiateInstrument(curve, swap, pillarInstruments[k].quote, &byRate[k * n]);
        }
        if (byRate[k * n + k] == 0.0) {
            throw std::runtime_error("Error, the value of the instrument of pillar " +
                                     std::to_string(k) + " does not move with its rate.");
        }
    }
    if (curve.looksAhead()) {
        solveFull(byRate, byQuote, rows);
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
