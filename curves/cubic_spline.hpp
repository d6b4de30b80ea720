#pragma once

#include <cstddef>
#include <vector>

namespace tsr {

// A natural cubic spline on fixed knots x(0) < ... < x(m): second derivatives (moments) M
// zero at both end knots, and in between the tridiagonal system of continuous first
// derivatives,
//   h(j-1) M(j-1) + 2 (h(j-1) + h(j)) M(j) + h(j) M(j+1)
//     = 6 ((y(j+1) - y(j)) / h(j) - (y(j) - y(j-1)) / h(j-1)),   h(j) = x(j+1) - x(j).
// The system depends on the knots only, so it is factorised once; the moments are linear in
// the knot values, and dM/dy is that same system solved for each unit vector of y.
class CubicSpline {
public:
    // At least one knot, strictly increasing.
    explicit CubicSpline(std::vector<double> knots);

    std::size_t size() const { return knots_.size(); }
    const std::vector<double>& knots() const { return knots_; }

    // The moments of the knot values y (one per knot) into `moments`.
    void solveMoments(const std::vector<double>& values, std::vector<double>& moments) const;

    // dM(i)/dy(j), row-major, size() x size(); rows of the end knots are zero.
    const std::vector<double>& momentsByValue() const { return momentsByValue_; }

    // The spline on segment j (x(j) <= t <= x(j+1)) at weight w = (t - x(j)) / h(j): the
    // coefficients of y(j), y(j+1), M(j), M(j+1).
    struct Weights {
        double left;
        double right;
        double leftMoment;
        double rightMoment;
    };
    Weights weights(std::size_t j, double w) const {
        const double a = 1.0 - w;
        const double h2 = spans_[j] * spans_[j] / 6.0;
        return {a, w, (a * a * a - a) * h2, (w * w * w - w) * h2};
    }
    double span(std::size_t j) const { return spans_[j]; }

private:
    std::vector<double> knots_;
    std::vector<double> spans_;
    // Thomas factorisation of the interior system: the modified diagonal and sub-diagonal
    // multipliers, one per interior knot.
    std::vector<double> pivots_;
    std::vector<double> multipliers_;
    std::vector<double> momentsByValue_;
    // Solves the interior system for a right-hand side given per interior knot, in place.
    void solveInterior(std::vector<double>& rhs) const;
};

} // namespace tsr
