#include "curves/cubic_spline.hpp"

#include <stdexcept>
#include <utility>

namespace tsr {

CubicSpline::CubicSpline(std::vector<double> knots) : knots_(std::move(knots)) {
    const std::size_t m = knots_.size();
    if (m == 0) {
        throw std::invalid_argument("Error, a spline needs at least one knot.");
    }
    for (std::size_t j = 0; j + 1 < m; ++j) {
        spans_.push_back(knots_[j + 1] - knots_[j]);
        if (!(spans_.back() > 0.0)) {
            throw std::invalid_argument("Error, spline knots must be strictly increasing.");
        }
    }
    // Interior knots 1..m-2, unknown i standing for knot i + 1.
    const std::size_t interior = m > 2 ? m - 2 : 0;
    pivots_.resize(interior);
    multipliers_.resize(interior);
    for (std::size_t i = 0; i < interior; ++i) {
        const double diagonal = 2.0 * (spans_[i] + spans_[i + 1]);
        if (i == 0) {
            pivots_[i] = diagonal;
            continue;
        }
        // Row i's sub-diagonal h(i) meets row i-1's super-diagonal h(i).
        multipliers_[i] = spans_[i] / pivots_[i - 1];
        pivots_[i] = diagonal - multipliers_[i] * spans_[i];
    }
    momentsByValue_.assign(m * m, 0.0);
    std::vector<double> unit(m, 0.0);
    std::vector<double> moments;
    for (std::size_t j = 0; j < m; ++j) {
        unit[j] = 1.0;
        solveMoments(unit, moments);
        for (std::size_t i = 0; i < m; ++i) {
            momentsByValue_[i * m + j] = moments[i];
        }
        unit[j] = 0.0;
    }
}

void CubicSpline::solveInterior(std::vector<double>& rhs) const {
    const std::size_t n = pivots_.size();
    for (std::size_t i = 1; i < n; ++i) {
        rhs[i] -= multipliers_[i] * rhs[i - 1];
    }
    for (std::size_t i = n; i-- > 0;) {
        const double above = i + 1 < n ? spans_[i + 1] * rhs[i + 1] : 0.0;
        rhs[i] = (rhs[i] - above) / pivots_[i];
    }
}

void CubicSpline::solveMoments(const std::vector<double>& values,
                               std::vector<double>& moments) const {
    const std::size_t m = knots_.size();
    moments.assign(m, 0.0);
    if (m < 3) {
        return; // a line: no interior knot bends it
    }
    std::vector<double> rhs(m - 2);
    for (std::size_t i = 0; i + 2 < m; ++i) {
        rhs[i] = 6.0 * ((values[i + 2] - values[i + 1]) / spans_[i + 1] -
                        (values[i + 1] - values[i]) / spans_[i]);
    }
    solveInterior(rhs);
    for (std::size_t i = 0; i + 2 < m; ++i) {
        moments[i + 1] = rhs[i];
    }
}

} // namespace tsr
