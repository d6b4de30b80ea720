#include "curves/monotone_convex.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace tsr {

namespace {

// A number with its derivatives with respect to g(0) and g(1), so that the integral of g and
// its two partials come from one evaluation of the region formulas, exactly.
struct Dual {
    double v;
    double d0;
    double d1;
};

Dual operator+(Dual a, Dual b) {
    return {a.v + b.v, a.d0 + b.d0, a.d1 + b.d1};
}
Dual operator-(Dual a, Dual b) {
    return {a.v - b.v, a.d0 - b.d0, a.d1 - b.d1};
}
Dual operator-(Dual a) {
    return {-a.v, -a.d0, -a.d1};
}
Dual operator*(Dual a, Dual b) {
    return {a.v * b.v, a.d0 * b.v + a.v * b.d0, a.d1 * b.v + a.v * b.d1};
}
Dual operator/(Dual a, Dual b) {
    const double q = a.v / b.v;
    return {q, (a.d0 - q * b.d0) / b.v, (a.d1 - q * b.d1) / b.v};
}
Dual operator*(double a, Dual b) {
    return {a * b.v, a * b.d0, a * b.d1};
}
Dual operator*(Dual a, double b) {
    return b * a;
}
Dual operator-(double a, Dual b) {
    return {a - b.v, -b.d0, -b.d1};
}
Dual operator-(Dual a, double b) {
    return {a.v - b, a.d0, a.d1};
}

double valueOf(double x) {
    return x;
}
double valueOf(const Dual& x) {
    return x.v;
}

template <class T> T cube(const T& x) {
    return x * x * x;
}

// G(z), the integral from 0 to z of the correction g with g(0) = g0, g(1) = g1, in the region
// of (g0, g1) the paper assigns it (Hagan and West 2006, the four regions of their Figure 4;
// their amended algorithm). Each region's g integrates to zero over [0, 1].
template <class T> T integral(const T& g0, const T& g1, double z) {
    const double a = valueOf(g0);
    const double b = valueOf(g1);
    if (a == 0.0 && b == 0.0) {
        return g0 * 0.0;
    }
    if ((a < 0.0 && -0.5 * a <= b && b <= -2.0 * a) ||
        (a > 0.0 && -0.5 * a >= b && b >= -2.0 * a)) {
        // (i): g quadratic, g(z) = g0 (1 - 4z + 3z^2) + g1 (-2z + 3z^2).
        return g0 * (z - 2.0 * z * z + z * z * z) + g1 * (z * z * z - z * z);
    }
    if ((a < 0.0 && b > -2.0 * a) || (a > 0.0 && b < -2.0 * a)) {
        // (ii): flat at g0 up to eta, then quadratic to g1.
        const T eta = (g1 + 2.0 * g0) / (g1 - g0);
        if (z <= valueOf(eta)) {
            return g0 * z;
        }
        const T rest = 1.0 - eta;
        return g0 * z + (g1 - g0) * cube(z - eta) / (3.0 * rest * rest);
    }
    if ((a > 0.0 && b < 0.0 && b > -0.5 * a) || (a < 0.0 && b > 0.0 && b < -0.5 * a)) {
        // (iii): quadratic from g0 to g1 up to eta, then flat at g1.
        const T eta = 3.0 * g1 / (g1 - g0);
        if (z < valueOf(eta)) {
            return g1 * z + (g0 - g1) * (cube(eta) - cube(eta - z)) / (3.0 * eta * eta);
        }
        return g1 * z + (g0 - g1) * eta * (1.0 / 3.0);
    }
    // (iv): g0 and g1 of one sign; down (or up) to A at eta, then back.
    const T eta = g1 / (g1 + g0);
    const T level = -(g0 * g1) / (g0 + g1);
    const double e = valueOf(eta);
    if (z <= e && e > 0.0) {
        return level * z + (g0 - level) * (cube(eta) - cube(eta - z)) / (3.0 * eta * eta);
    }
    const T head = level * z + (g0 - level) * eta * (1.0 / 3.0);
    if (z <= e) {
        return head;
    }
    const T rest = 1.0 - eta;
    return head + (g1 - level) * cube(z - eta) / (3.0 * rest * rest);
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
    // The positivity amendment: f(j) within [0, 2 fd(i)] with fd(i) the smallest positive
    // neighbouring forward, when every neighbouring forward is positive.
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
    // The end nodes: f(0) = 3/2 fd(1) - 1/2 f(1), f(last) = 3/2 fd(last) - 1/2 f(last - 1).
    for (const auto& [j, next, i] :
         {std::array<std::size_t, 3>{0, 1, 1}, std::array<std::size_t, 3>{last, last - 1, last}}) {
        forwards[j] = 1.5 * fd(i) - 0.5 * forwards[next];
        addDiscrete(j, i, 1.5);
        // f(next) depends on the same three nodes as f(j).
        for (std::size_t d = 0; d < 3; ++d) {
            byValue[j * 3 + d] -= 0.5 * byValue[next * 3 + d];
        }
        if (fd(i) > 0.0) {
            collar(j, i);
        }
    }
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
    const Dual g = integral(Dual{forwards[i] - discrete, 1.0, 0.0},
                            Dual{forwards[i + 1] - discrete, 0.0, 1.0}, z);
    // y(i) + z (y(i+1) - y(i)) + h G(f(i) - fd, f(i+1) - fd), fd = (y(i+1) - y(i)) / h.
    const double both = g.d0 + g.d1;
    return {values[i] + z * (values[i + 1] - values[i]) + h * g.v,
            {1.0 - z + both, z - both},
            {h * g.d0, h * g.d1}};
}

} // namespace tsr
