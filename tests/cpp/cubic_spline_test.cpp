// The natural cubic spline against its defining properties, and the dense LU solve it is
// differentiated with.
#include "curves/cubic_spline.hpp"
#include "curves/dense_lu.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace tsr;

namespace {

// The spline's value at t from its knots, values and moments.
double at(const CubicSpline& spline, const std::vector<double>& y, const std::vector<double>& m,
          double t) {
    const std::vector<double>& x = spline.knots();
    std::size_t j = 0;
    while (j + 2 < x.size() && t > x[j + 1]) {
        ++j;
    }
    const auto c = spline.weights(j, (t - x[j]) / spline.span(j));
    return c.left * y[j] + c.right * y[j + 1] + c.leftMoment * m[j] + c.rightMoment * m[j + 1];
}

} // namespace

TEST(CubicSpline, IsTwiceContinuousAndNaturalThroughItsKnots) {
    const std::vector<std::vector<double>> knotSets = {
        {0.0, 1.0}, {0.0, 0.1, 0.5, 2.0}, {0.08, 0.25, 1.0, 1.5, 3.0, 7.0, 10.0, 30.0}};
    for (const auto& knots : knotSets) {
        const CubicSpline spline(knots);
        std::vector<double> y;
        for (const double x : knots) {
            y.push_back(0.03 * x + 0.002 * std::sin(3.0 * x));
        }
        std::vector<double> m;
        spline.solveMoments(y, m);
        const double h = 1e-4;
        const auto second = [&](double t) {
            return (at(spline, y, m, t + h) - 2.0 * at(spline, y, m, t) + at(spline, y, m, t - h)) /
                   (h * h);
        };
        for (std::size_t j = 0; j < knots.size(); ++j) {
            EXPECT_NEAR(y[j], at(spline, y, m, knots[j]), 1e-15);
            if (j == 0 || j + 1 == knots.size()) {
                EXPECT_EQ(0.0, m[j]);
                continue;
            }
            const double x = knots[j];
            const double k = 1e-6;
            const double left = (at(spline, y, m, x) - at(spline, y, m, x - k)) / k;
            const double right = (at(spline, y, m, x + k) - at(spline, y, m, x)) / k;
            EXPECT_NEAR(left, right, 2e-7) << "slope at knot " << j;
            EXPECT_NEAR(m[j], second(x), 1e-5) << "curvature at knot " << j;
        }
        // dM/dy: the moments are linear in the values.
        for (std::size_t i = 0; i < knots.size(); ++i) {
            std::vector<double> moved = y;
            moved[i] += 1.0;
            std::vector<double> mm;
            spline.solveMoments(moved, mm);
            for (std::size_t j = 0; j < knots.size(); ++j) {
                EXPECT_NEAR(mm[j] - m[j], spline.momentsByValue()[j * knots.size() + i], 1e-12);
            }
        }
    }
}

TEST(DenseLu, SolvesWithPivotingAndRefusesSingular) {
    // A zero leading entry needs the row exchange.
    const DenseLu lu({0.0, 2.0, 1.0, 1.0, 1.0, 0.0, 3.0, 0.0, 1.0}, 3);
    std::vector<double> b = {5.0, 3.0, 10.0};
    const std::vector<double> a = {0.0, 2.0, 1.0, 1.0, 1.0, 0.0, 3.0, 0.0, 1.0};
    const std::vector<double> rhs = b;
    lu.solve(b.data());
    for (std::size_t i = 0; i < 3; ++i) {
        double sum = 0.0;
        for (std::size_t j = 0; j < 3; ++j) {
            sum += a[i * 3 + j] * b[j];
        }
        EXPECT_NEAR(rhs[i], sum, 1e-14);
    }
    EXPECT_THROW(DenseLu({1.0, 2.0, 2.0, 4.0}, 2), std::runtime_error);
}
