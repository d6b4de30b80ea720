#include "curves/risk_vector.hpp"
#include "curves/yield_curve.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using tsr::date;
using tsr::RiskVector;
using tsr::YieldCurve;
using tsr::YieldCurveInterpolation;

namespace {

const date valueDate(2026, 3, 2);

date daysAfter(long days) {
    return valueDate + boost::gregorian::days(days);
}

const std::vector<date> pillarDates = {daysAfter(7),    daysAfter(33),  daysAfter(95),
                                       daysAfter(184),  daysAfter(367), daysAfter(732),
                                       daysAfter(1828), daysAfter(3655)};
const std::vector<double> pillarRates = {0.052, 0.049, -0.011, 0.0, 0.021, 0.035, 0.027, 0.041};

const YieldCurveInterpolation kinds[] = {YieldCurveInterpolation::LinearRates,
                                         YieldCurveInterpolation::LinearLogDf};

// Dates before, on, between and after the pillars.
std::vector<date> probeDates() {
    std::vector<date> dates = {valueDate, daysAfter(1), daysAfter(3), daysAfter(6)};
    for (const date& d : pillarDates) {
        dates.push_back(d);
        dates.push_back(d + boost::gregorian::days(1));
        dates.push_back(d - boost::gregorian::days(1));
    }
    dates.push_back(daysAfter(5000));
    dates.push_back(daysAfter(15000));
    return dates;
}

} // namespace

TEST(RiskVector, NegationFlipsEverySignBit) {
    const RiskVector r = -RiskVector{0.0, {1.5, -2.0, 0.0}};
    EXPECT_TRUE(std::signbit(r.value));
    EXPECT_EQ(0.0, r.value);
    EXPECT_EQ(-1.5, r.derivatives[0]);
    EXPECT_EQ(2.0, r.derivatives[1]);
    EXPECT_TRUE(std::signbit(r.derivatives[2]));
}

TEST(RiskVector, ExpScalesTheDerivativesByItsValue) {
    const RiskVector r = tsr::exp(RiskVector{std::log(2.0), {1.0, -0.25, 0.0}});
    EXPECT_DOUBLE_EQ(2.0, r.value);
    EXPECT_DOUBLE_EQ(2.0, r.derivatives[0]);
    EXPECT_DOUBLE_EQ(-0.5, r.derivatives[1]);
    EXPECT_EQ(0.0, r.derivatives[2]);
}

TEST(RiskVector, DfRVValueIsExactlyDf) {
    for (auto kind : kinds) {
        const YieldCurve curve(valueDate, pillarDates, pillarRates, kind);
        for (const date& d : probeDates()) {
            const RiskVector r = curve.dfRV(d);
            EXPECT_EQ(curve.df(d), r.value) << d;
            EXPECT_EQ(pillarRates.size(), r.derivatives.size());
        }
    }
}

TEST(RiskVector, NoSensitivityOnOrBeforeTheValueDate) {
    for (auto kind : kinds) {
        const YieldCurve curve(valueDate, pillarDates, pillarRates, kind);
        for (const date& d : {valueDate, daysAfter(-100)}) {
            const RiskVector r = curve.dfRV(d);
            EXPECT_EQ(1.0, r.value);
            EXPECT_EQ(std::vector<double>(pillarRates.size(), 0.0), r.derivatives);
        }
    }
}

// The oracle: bump one pillar rate up and down, rebuild through update, and
// difference df. A one-pillar curve exercises the extrapolations alone.
TEST(RiskVector, EveryDerivativeMatchesACentralDifference) {
    const double h = 1e-6;
    const std::pair<std::vector<date>, std::vector<double>> curves[] = {{pillarDates, pillarRates},
                                                                        {{daysAfter(400)}, {0.02}}};
    for (const auto& [dates, rates] : curves) {
        for (auto kind : kinds) {
            const YieldCurve curve(valueDate, dates, rates, kind);
            YieldCurve bumped(valueDate, dates, rates, kind);
            for (const date& d : probeDates()) {
                const RiskVector r = curve.dfRV(d);
                ASSERT_EQ(rates.size(), r.derivatives.size());
                for (std::size_t k = 0; k < rates.size(); ++k) {
                    std::vector<double> moved = rates;
                    moved[k] += h;
                    bumped.update(moved);
                    const double up = bumped.df(d);
                    moved[k] = rates[k] - h;
                    bumped.update(moved);
                    const double expected = (up - bumped.df(d)) / (2 * h);
                    EXPECT_NEAR(expected, r.derivatives[k], 1e-8 * (1.0 + std::abs(expected)))
                        << "kind " << int(kind) << " date " << d << " pillar " << k;
                }
            }
        }
    }
}

TEST(RiskVector, LinearRatesLoadsOnlyTheNeighbouringPillars) {
    const YieldCurve curve(valueDate, pillarDates, pillarRates,
                           YieldCurveInterpolation::LinearRates);
    const auto& times = curve.pillarTimes();
    const std::size_t n = times.size();
    for (std::size_t i = 0; i + 1 < n; ++i) {
        const date d = pillarDates[i] + boost::gregorian::days(1);
        const RiskVector r = curve.dfRV(d);
        for (std::size_t k = 0; k < n; ++k) {
            if (k != i && k != i + 1) {
                EXPECT_EQ(0.0, r.derivatives[k]) << i << " " << k;
            }
        }
        const double t = tsr::curveTime(valueDate, d);
        EXPECT_NEAR(-t * r.value, r.derivatives[i] + r.derivatives[i + 1], 1e-15);
    }
}

TEST(RiskVector, DerivativesAreContinuousAcrossPillars) {
    for (auto kind : kinds) {
        const YieldCurve curve(valueDate, pillarDates, pillarRates, kind);
        for (double tk : curve.pillarTimes()) {
            const RiskVector left = curve.logDfRV(tk - 1e-11);
            const RiskVector right = curve.logDfRV(tk + 1e-11);
            for (std::size_t k = 0; k < pillarRates.size(); ++k) {
                EXPECT_NEAR(left.derivatives[k], right.derivatives[k], 1e-9)
                    << "kind " << int(kind) << " t " << tk << " pillar " << k;
            }
        }
    }
}

TEST(RiskVector, InteriorOperationsAgreeWithTheirValueFunctions) {
    for (auto kind : kinds) {
        const YieldCurve curve(valueDate, pillarDates, pillarRates, kind);
        for (double t : {0.05, 0.3, 1.7, 4.2, 9.9}) {
            EXPECT_EQ(curve.logDfLinearRates(t), curve.logDfLinearRatesRV(t).value);
            EXPECT_EQ(curve.logDfLinearLogDf(t), curve.logDfLinearLogDfRV(t).value);
            EXPECT_EQ(curve.logDf(t), curve.logDfRV(t).value);
        }
    }
}
