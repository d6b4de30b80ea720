#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace tsr {

// The monotone-convex interpolation of Hagan and West (2006) of minus the log discount
// factor y on nodes x(0) = 0 < x(1) < ... < x(n), y(0) = 0.
//
// The discrete forward of segment i (x(i-1), x(i)] is fd(i) = (y(i) - y(i-1)) / h(i). The
// instantaneous forward at each node is (their step 2-3)
//   f(i) = h(i) / (h(i) + h(i+1)) fd(i+1) + h(i+1) / (h(i) + h(i+1)) fd(i),   0 < i < n,
//   f(0) = fd(1) - (f(1) - fd(1)) / 2 (their end rule),   f(n) = fd(n),
// with the positivity amendment: a node whose neighbouring discrete forwards are all positive
// keeps its forward in [0, 2 min(neighbouring fd)], interior nodes first, then f(0).
// On segment i at z = (t - x(i-1)) / h(i) the forward is fd(i) + g(z), with g the paper's
// quadratic through g(0) = f(i-1) - fd(i) and g(1) = f(i) - fd(i) integrating to zero over
// the segment (on every segment: the paper's flat-and-quadratic pieces are not
// differentiable in the node forwards), so that
//   y(t) = y(i-1) + h(i) (fd(i) z + G(z)),   G(z) = integral of g from 0 to z,
// is linear in the node values and forwards.
// The node forwards are the curve's only non-local quantities: each depends on the values of
// three neighbouring nodes, so a value moves y(t) within two segments of it.
class MonotoneConvex {
public:
    // At least two nodes, the first 0, strictly increasing.
    explicit MonotoneConvex(std::vector<double> nodes);

    std::size_t size() const { return nodes_.size(); }
    const std::vector<double>& nodes() const { return nodes_; }
    double span(std::size_t i) const { return nodes_[i + 1] - nodes_[i]; }

    // The node whose value is the first of the three node j's forward depends on.
    std::size_t firstDependency(std::size_t j) const;

    // The node forwards of the node values (one per node, y(0) = 0) into `forwards`, and
    // df(j)/dy(firstDependency(j) + d), d = 0, 1, 2, into `byValue` (size() x 3).
    void solveForwards(const std::vector<double>& values, std::vector<double>& forwards,
                       std::vector<double>& byValue) const;

    // Minus log df on segment i (x(i) <= t <= x(i+1)) at weight z, and its derivatives with
    // respect to y(i), y(i+1), f(i) and f(i+1).
    struct Value {
        double value;
        std::array<double, 2> byValue;
        std::array<double, 2> byForward;
    };
    double value(std::size_t i, double z, const std::vector<double>& values,
                 const std::vector<double>& forwards) const;
    Value sensitivity(std::size_t i, double z, const std::vector<double>& values,
                      const std::vector<double>& forwards) const;

private:
    std::vector<double> nodes_;
};

} // namespace tsr
