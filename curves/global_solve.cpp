#include "curves/global_solve.hpp"

#include "curves/bootstrap.hpp"
#include "curves/curve_jacobian.hpp"
#include "curves/dense_lu.hpp"
#include "curves/yield_curve.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <stdexcept>

namespace tsr {

namespace {

constexpr std::size_t stepBudget = 50;
// A step this small in every rate has converged: the values are then at rounding noise.
constexpr double converged = 4.0 * std::numeric_limits<double>::epsilon();
// Steps that stall above `converged` but below this are rounding noise too.
constexpr double noise = 1e-14;
// A chord step must shrink the step by this factor at least, or dP/dr is made again.
constexpr double contraction = 0.1;

std::string shown(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", x);
    return text;
}

} // namespace

void solvePillarsTogether(YieldCurve& curve, std::vector<PillarPricer>& pricers,
                          const std::vector<double>& quotes,
                          const std::function<std::string(std::size_t)>& describe) {
    const std::size_t n = pricers.size();
    if (quotes.size() != n || curve.pillarRates().size() != n) {
        throw std::logic_error("Error, expected one instrument and one quote per pillar.");
    }
    std::vector<double> rates = curve.pillarRates();
    std::vector<double> values(n);
    std::vector<double> byRate(n * n);
    std::vector<double> step(n);
    double largest = std::numeric_limits<double>::infinity();
    double previous = largest;
    std::optional<DenseLu> lu;
    for (std::size_t iteration = 0; iteration < stepBudget; ++iteration) {
        // From the log-linear start dP/dr hardly changes: the last one serves (a chord step)
        // while the steps shrink fast, which spares differentiating every instrument again.
        const bool differentiate = !lu || (largest > contraction * previous && largest > noise);
        if (differentiate) {
            std::fill(byRate.begin(), byRate.end(), 0.0);
        }
        bool finite = true;
        for (std::size_t k = 0; k < n; ++k) {
            pricers[k].prepare(curve);
            values[k] = pricers[k].value(curve);
            if (differentiate) {
                instrumentDerivatives(curve, pricers[k].swap(), quotes[k], &byRate[k * n]);
            }
            finite = finite && std::isfinite(values[k]);
        }
        if (!finite) {
            break;
        }
        step = values;
        try {
            if (differentiate) {
                lu.emplace(byRate, n);
            }
            lu->solve(step.data());
        } catch (const std::runtime_error&) {
            break;
        }
        previous = largest;
        largest = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            rates[k] -= step[k];
            largest = std::max(largest, std::abs(step[k]));
        }
        curve.update(rates);
        if (largest <= converged || (iteration >= 8 && largest <= noise)) {
            return;
        }
    }
    // The instrument furthest from its quote, in rate: its value over its annuity.
    std::size_t worst = 0;
    double worstGap = -1.0;
    for (std::size_t k = 0; k < n; ++k) {
        pricers[k].prepare(curve);
        const double value = pricers[k].value(curve);
        std::vector<double> row(n, 0.0);
        const double annuity =
            std::abs(instrumentDerivatives(curve, pricers[k].swap(), quotes[k], row.data())) *
            100.0;
        const double gap = std::isfinite(value) ? std::abs(value) / annuity
                                                : std::numeric_limits<double>::infinity();
        if (gap > worstGap || std::isnan(gap)) {
            worst = k;
            worstGap = gap;
        }
    }
    throw std::runtime_error("Error, the curve's pillars do not solve together: instrument " +
                             describe(worst) + " is " + shown(worstGap) +
                             " from its quote in rate.");
}

} // namespace tsr
