#include "curves/monotone_convex.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace tsr {

namespace {

// The weights of g0 and g1 in G(z).
double byStart(double z) {
    return z * (1.0 - z) * (1.0 - z);
}
double byEnd(double z) {
    return z * z * (z - 1.0);
}

// G(z), the integral from 0 to z of the correction g with g(0) = g0, g(1) = g1 and
// integral zero over [0, 1]: the quadratic g(z) = g0 (1 - 4z + 3z^2) + g1 (3z^2 - 2z) of
// Hagan and West (2006, their step 4), on every segment.
//
// Their algorithm swaps it for flat-and-quadratic pieces in three of four regions of
// (g0, g1) so that the forward never overshoots its node values. Those pieces depend on the
// ratio g1 / g0: G is then not differentiable at g0 = 0 or g1 = 0 (a node forward equal to
// the segment's discrete forward), and curves like 1 / |g| around there, so neither the
// Jacobian nor bumped risk is reliable. The quadratic keeps G linear in (g0, g1).
double integral(double g0, double g1, double z) {
    return g0 * byStart(z) + g1 * byEnd(z);
}

} // namespace

MonotoneConvex::MonotoneConvex(std::vector<double> nodes) : nodes_(std::move(nodes)) {
    if (nodes_.size() < 2 || nodes_.front() != 0.0) {
        throw std::invalid_argument(
            "Error, a monotone-convex curve needs the node 0 and a pillar.");
    }
    for (std::size_t i = 1; i < nodes_.size(); ++i) {
        if (!(nodes_[i] > nodes_[i - 1])) {
            throw std::invalid_argument("Error, monotone-convex nodes must increase strictly.");
        }
    }
}

std::size_t MonotoneConvex::firstDependency(std::size_t j) const {
    const std::size_t last = nodes_.size() - 1;
    if (last < 2 || j == 0) {
        return 0;
    }
    return std::min(j - 1, last - 2);
}

void MonotoneConvex::solveForwards(const std::vector<double>& values, std::vector<double>& forwards,
                                   std::vector<double>& byValue) const {
    const std::size_t m = nodes_.size();
    const std::size_t last = m - 1;
    forwards.assign(m, 0.0);
    byValue.assign(m * 3, 0.0);
    // fd(i) on (x(i-1), x(i)], i = 1..last.
    const auto h = [&](std::size_t i) { return nodes_[i] - nodes_[i - 1]; };
    const auto fd = [&](std::size_t i) { return (values[i] - values[i - 1]) / h(i); };
    // Adds c x d fd(i)/dy to node j's row.
    const auto addDiscrete = [&](std::size_t j, std::size_t i, double c) {
        const std::size_t first = firstDependency(j);
        byValue[j * 3 + (i - first)] += c / h(i);
        byValue[j * 3 + (i - 1 - first)] -= c / h(i);
    };
    // The positivity amendment: f(j) within [0, 2 fd(i)] with fd(i) the smaller neighbouring
    // forward, when both are positive. With f(i-1) and f(i) in [0, 2 fd(i)], the forward
    // fd(i) + g on segment i is linear in (g0, g1) in [-fd(i), fd(i)]^2 and non-negative at
    // its four corners, so it is non-negative, and zero only where a node forward is zero.
    const auto collar = [&](std::size_t j, std::size_t i) {
        if (forwards[j] < 0.0) {
            forwards[j] = 0.0;
            std::fill_n(byValue.begin() + static_cast<std::ptrdiff_t>(j * 3), 3, 0.0);
        } else if (forwards[j] > 2.0 * fd(i)) {
            forwards[j] = 2.0 * fd(i);
            std::fill_n(byValue.begin() + static_cast<std::ptrdiff_t>(j * 3), 3, 0.0);
            addDiscrete(j, i, 2.0);
        }
    };
    if (last == 1) {
        forwards[0] = forwards[1] = fd(1);
        addDiscrete(0, 1, 1.0);
        addDiscrete(1, 1, 1.0);
        return;
    }
    for (std::size_t j = 1; j < last; ++j) {
        const double left = h(j);
        const double right = h(j + 1);
        const double a = left / (left + right);
        forwards[j] = a * fd(j + 1) + (1.0 - a) * fd(j);
        addDiscrete(j, j + 1, a);
        addDiscrete(j, j, 1.0 - a);
        if (fd(j) > 0.0 && fd(j + 1) > 0.0) {
            collar(j, fd(j) <= fd(j + 1) ? j : j + 1);
        }
    }
    // The value date's forward by the paper's end rule, f(0) = 3/2 fd(1) - 1/2 f(1).
    forwards[0] = 1.5 * fd(1) - 0.5 * forwards[1];
    addDiscrete(0, 1, 1.5);
    // f(1) depends on the same three nodes as f(0).
    for (std::size_t d = 0; d < 3; ++d) {
        byValue[d] -= 0.5 * byValue[3 + d];
    }
    if (fd(1) > 0.0) {
        collar(0, 1);
    }
    // The last pillar's forward is the last discrete forward, carried on past it. The end
    // rule would make it, and so every forward past the last pillar, depend on the pillar
    // two before.
    forwards[last] = fd(last);
    addDiscrete(last, last, 1.0);
}

double MonotoneConvex::value(std::size_t i, double z, const std::vector<double>& values,
                             const std::vector<double>& forwards) const {
    const double h = span(i);
    const double discrete = (values[i + 1] - values[i]) / h;
    return values[i] + z * (values[i + 1] - values[i]) +
           h * integral(forwards[i] - discrete, forwards[i + 1] - discrete, z);
}

MonotoneConvex::Value MonotoneConvex::sensitivity(std::size_t i, double z,
                                                  const std::vector<double>& values,
                                                  const std::vector<double>& forwards) const {
    const double h = span(i);
    const double discrete = (values[i + 1] - values[i]) / h;
    const double start = byStart(z);
    const double end = byEnd(z);
    // y(i) + z (y(i+1) - y(i)) + h G(f(i) - fd, f(i+1) - fd), fd = (y(i+1) - y(i)) / h.
    const double both = start + end;
    return {values[i] + z * (values[i + 1] - values[i]) +
                h * integral(forwards[i] - discrete, forwards[i + 1] - discrete, z),
            {1.0 - z + both, z - both},
            {h * start, h * end}};
}

} // namespace tsr
