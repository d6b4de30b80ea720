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

constexpr std::size_t stepBudget = 100;
// A step this small in every rate has converged: the values are then at rounding noise.
constexpr double converged = 4.0 * std::numeric_limits<double>::epsilon();
// Steps that stall above `converged` but below this are rounding noise too.
constexpr double noise = 1e-14;
// A chord step must shrink the step by this factor at least, or dP/dr is made again.
constexpr double contraction = 0.1;
// A step that does not reduce the largest instrument value is halved, so many times at most.
constexpr std::size_t halvingBudget = 30;

std::string shown(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", x);
    return text;
}

// Adds the derivatives of instrument k's value in the pillar rates to `row` and returns
// its derivative in its quote: a futures row's value is a rate gap in percent.
double derivatives(const YieldCurve& curve, const PillarPricer& pricer, double quote, double* row) {
    if (const CurveFuture* future = pricer.future()) {
        future->differentiate(curve, 1.0, row);
        return -1.0;
    }
    return instrumentDerivatives(curve, pricer.swap(), quote, row);
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
    // The rates the last step started from, the largest value there, and the part of the
    // step taken: a step that leaves a larger value behind is halved.
    std::vector<double> from = rates;
    double fromValue = std::numeric_limits<double>::infinity();
    double taken = 1.0;
    std::size_t halvings = 0;
    double largest = std::numeric_limits<double>::infinity();
    double previous = largest;
    std::optional<DenseLu> lu;
    bool stale = false;
    for (std::size_t iteration = 0; iteration < stepBudget; ++iteration) {
        double value = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            // The dates instrument k shares with instrument k-1 take its discount factors.
            pricers[k].prepare(curve, k == 0 ? nullptr : &pricers[k - 1]);
            values[k] = pricers[k].value(curve);
            value = std::isfinite(values[k]) ? std::max(value, std::abs(values[k])) : values[k];
        }
        if (lu && !(value < fromValue) && !(value <= noise) && halvings < halvingBudget) {
            taken *= 0.5;
            ++halvings;
            for (std::size_t k = 0; k < n; ++k) {
                rates[k] = from[k] - taken * step[k];
            }
            curve.update(rates);
            stale = true; // the reused dP/dr led astray: make it again where the step lands
            continue;
        }
        if (!std::isfinite(value)) {
            break;
        }
        // From the log-linear start dP/dr hardly changes: the last one serves (a chord step)
        // while the steps shrink fast, which spares differentiating every instrument again.
        if (!lu || stale || (largest > contraction * previous && largest > noise)) {
            std::fill(byRate.begin(), byRate.end(), 0.0);
            for (std::size_t k = 0; k < n; ++k) {
                derivatives(curve, pricers[k], quotes[k], &byRate[k * n]);
            }
            try {
                lu.emplace(byRate, n);
            } catch (const std::runtime_error&) {
                break;
            }
            stale = false;
        }
        step = values;
        lu->solve(step.data());
        from = rates;
        fromValue = value;
        taken = 1.0;
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
            std::abs(derivatives(curve, pricers[k], quotes[k], row.data())) * 100.0;
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
