#include "curves/yield_curve.hpp"

#include "test_support.hpp"
#include <boost/date_time/gregorian/gregorian.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

using tsr::date;
using tsr::YieldCurve;
using tsr::YieldCurveInterpolation;

using namespace tsr::test;

namespace {

const date valueDate(2026, 1, 15);

date daysAfter(long days) {
    return valueDate + boost::gregorian::days(days);
}

const YieldCurveInterpolation kinds[] = {YieldCurveInterpolation::LinearRates,
                                         YieldCurveInterpolation::LinearLogDf};

// Pillars at t = 1 and t = 2 exactly.
YieldCurve twoPillars(YieldCurveInterpolation kind) {
    return YieldCurve(valueDate, {daysAfter(365), daysAfter(730)}, {0.02, 0.03}, kind);
}

const std::vector<date> pillarDates = {daysAfter(30),  daysAfter(91),  daysAfter(182),
                                       daysAfter(365), daysAfter(730), daysAfter(1826),
                                       daysAfter(3652)};
const std::vector<double> rates = {0.031, 0.0305, 0.029, 0.027, -0.004, 0.026, 0.033};

} // namespace

TEST(YieldCurve, NoDiscountingOnOrBeforeTheValueDate) {
    for (auto kind : kinds) {
        const YieldCurve curve(valueDate, {daysAfter(365)}, {-0.05}, kind);
        for (const date& d :
             {valueDate, daysAfter(-1), date(1400, 1, 1), date(boost::gregorian::neg_infin)}) {
            EXPECT_EQ(1.0, curve.df(d)) << d;
        }
        EXPECT_NE(1.0, curve.df(daysAfter(1)));
        // Not-a-date and +infinity count as the largest day count.
        EXPECT_EQ(0.0, twoPillars(kind).df(date(boost::gregorian::not_a_date_time)));
        EXPECT_EQ(0.0, twoPillars(kind).df(date(boost::gregorian::pos_infin)));
    }
}

TEST(YieldCurve, TwoPillarExamples) {
    const YieldCurve linearRates = twoPillars(YieldCurveInterpolation::LinearRates);
    const YieldCurve linearLogDf = twoPillars(YieldCurveInterpolation::LinearLogDf);
    // Zero rate 0.025 at t = 1.5, flat 0.03 after t = 2.
    EXPECT_NEAR(0.0375, linearRates.logDf(1.5), 1e-15);
    EXPECT_NEAR(0.0375, linearRates.logDfLinearRates(1.5), 1e-15);
    EXPECT_NEAR(0.09, linearRates.logDf(3.0), 1e-15);
    const double t = 547.0 / 365;
    EXPECT_NEAR(std::exp(-(0.02 + 0.01 * (t - 1.0)) * t), linearRates.df(daysAfter(547)), 1e-15);
    // L = (0.02, 0.06), f = (0.02, 0.04).
    EXPECT_NEAR(0.04, linearLogDf.logDf(1.5), 1e-15);
    EXPECT_NEAR(0.04, linearLogDf.logDfLinearLogDf(1.5), 1e-15);
    EXPECT_NEAR(0.10, linearLogDf.logDf(3.0), 1e-15);
    EXPECT_NEAR(std::exp(-0.10), linearLogDf.df(daysAfter(1095)), 1e-15);
    // The log-discount formula must not read arrays a LinearRates curve does not keep.
    EXPECT_NEAR(0.04, linearRates.logDfLinearLogDf(1.5), 1e-15);
}

TEST(YieldCurve, PillarsBoundariesAndExtrapolation) {
    const YieldCurve byRates(valueDate, pillarDates, rates, YieldCurveInterpolation::LinearRates);
    const YieldCurve byLogDf(valueDate, pillarDates, rates, YieldCurveInterpolation::LinearLogDf);
    const auto& t = byRates.pillarTimes();
    const std::size_t n = t.size();
    for (const YieldCurve* curve : {&byRates, &byLogDf}) {
        for (std::size_t k = 0; k < n; ++k) {
            EXPECT_NEAR(rates[k] * t[k], curve->logDf(t[k]), 1e-16) << k;
            EXPECT_NEAR(curve->logDf(t[k] - 1e-10), curve->logDf(t[k] + 1e-10), 1e-9) << k;
        }
        for (double s : {1e-6, 1.0 / 365, 0.05}) {
            EXPECT_NEAR(rates[0] * s, curve->logDf(s), 1e-17);
        }
    }
    const double lastForward =
        (rates[n - 1] * t[n - 1] - rates[n - 2] * t[n - 2]) / (t[n - 1] - t[n - 2]);
    for (double s : {0.0, 0.5, 20.0}) {
        EXPECT_NEAR(rates[n - 1] * (t[n - 1] + s), byRates.logDf(t[n - 1] + s), 1e-14);
        EXPECT_NEAR(rates[n - 1] * t[n - 1] + s * lastForward, byLogDf.logDf(t[n - 1] + s), 1e-14);
    }
    // LinearLogDf: a constant forward inside each segment.
    for (std::size_t k = 1; k < n; ++k) {
        const double forward = (rates[k] * t[k] - rates[k - 1] * t[k - 1]) / (t[k] - t[k - 1]);
        const double a = t[k - 1] + 0.1 * (t[k] - t[k - 1]);
        const double b = t[k - 1] + 0.7 * (t[k] - t[k - 1]);
        EXPECT_NEAR(forward, (byLogDf.logDf(b) - byLogDf.logDf(a)) / (b - a), 1e-12) << k;
    }
}

TEST(YieldCurve, SinglePillarGivesItsZeroRateEverywhere) {
    for (auto kind : kinds) {
        const YieldCurve curve(valueDate, {daysAfter(200)}, {0.037}, kind);
        for (double t : {0.01, 200.0 / 365, 1.0, 40.0}) {
            EXPECT_NEAR(0.037 * t, curve.logDf(t), 1e-15) << int(kind) << " " << t;
        }
        EXPECT_EQ(0u, curve.upperIndex(1.0));
        EXPECT_THROW((void)curve.logDfLinearRates(0.1), std::runtime_error);
        EXPECT_THROW((void)curve.logDfLinearLogDfRV(0.1), std::runtime_error);
    }
}

TEST(YieldCurve, UpdateReplacesTheRatesInPlace) {
    YieldCurve byRates = twoPillars(YieldCurveInterpolation::LinearRates);
    const double* storage = byRates.pillarRates().data();
    byRates.update({0.05, 0.01});
    EXPECT_EQ((std::vector<double>{0.05, 0.01}), byRates.rates());
    EXPECT_EQ(storage, byRates.pillarRates().data());
    EXPECT_EQ((std::vector<date>{daysAfter(365), daysAfter(730)}), byRates.dates());
    EXPECT_NEAR(0.045, byRates.logDf(1.5), 1e-15);
    EXPECT_EQ("", byRates.label());
    EXPECT_EQ("", byRates.interpolation());

    YieldCurve byLogDf = twoPillars(YieldCurveInterpolation::LinearLogDf);
    byLogDf.update({0.03, 0.02}); // L = (0.03, 0.04), f = (0.03, 0.01)
    EXPECT_NEAR(0.035, byLogDf.logDf(1.5), 1e-15);
    EXPECT_NEAR(0.05, byLogDf.logDf(3.0), 1e-15);
    EXPECT_NEAR(0.015, byLogDf.logDf(0.5), 1e-15);
}

TEST(YieldCurve, UpdateOfOneRateMatchesAFullUpdate) {
    for (auto kind : kinds) {
        for (std::size_t k = 0; k < rates.size(); ++k) {
            YieldCurve single(valueDate, pillarDates, rates, kind);
            YieldCurve full(valueDate, pillarDates, rates, kind);
            std::vector<double> bumped = rates;
            bumped[k] = 0.123;
            single.updateRate(k, 0.123);
            full.update(bumped);
            for (long day = 1; day < 4000; day += 13) {
                ASSERT_EQ(full.df(daysAfter(day)), single.df(daysAfter(day)))
                    << "kind " << int(kind) << " pillar " << k << " day " << day;
            }
        }
    }
    YieldCurve curve = twoPillars(YieldCurveInterpolation::LinearRates);
    EXPECT_THROW(curve.updateRate(2, 0.01), std::out_of_range);
}

TEST(YieldCurve, WrongNumberOfRatesIsRefused) {
    for (auto kind : kinds) {
        YieldCurve curve = twoPillars(kind);
        expectMessage([&] { curve.update({0.01}); },
                      "Error, expected one rate per pillar: the curve has 2 pillars and 1 rates "
                      "were given.");
        EXPECT_THROW(curve.update({0.01, 0.02, 0.03}), std::invalid_argument);
        EXPECT_EQ((std::vector<double>{0.02, 0.03}), curve.rates());
        EXPECT_THROW(YieldCurve(valueDate, {daysAfter(10)}, {0.01, 0.02}, kind),
                     std::invalid_argument);
    }
}

TEST(YieldCurve, PillarsMustIncreaseStrictlyFromTheValueDate) {
    const std::pair<std::vector<date>, std::string> cases[] = {
        {{daysAfter(10), daysAfter(10)}, "pillar 1 (2026-01-25)"},
        {{daysAfter(10), daysAfter(30), daysAfter(20)}, "pillar 2 (2026-02-04)"},
        {{valueDate, daysAfter(30)}, "pillar 0 (2026-01-15)"},
        {{daysAfter(-3)}, "pillar 0 (2026-01-12)"},
    };
    for (const auto& [pillars, offending] : cases) {
        for (auto kind : kinds) {
            expectMessage(
                [&] { YieldCurve(valueDate, pillars, std::vector<double>(pillars.size()), kind); },
                "Error, pillar dates must be strictly increasing: " + offending);
        }
    }
}

TEST(YieldCurve, CurveWithoutPillarsAnswersItsListsButNoDiscountFactor) {
    for (auto kind : kinds) {
        YieldCurve curve(valueDate, {}, {}, kind);
        EXPECT_TRUE(curve.dates().empty());
        EXPECT_TRUE(curve.rates().empty());
        curve.update({});
        const std::string message = "Error, the curve has no pillars.";
        expectMessage([&] { (void)curve.df(daysAfter(10)); }, message);
        expectMessage([&] { (void)curve.df(valueDate); }, message);
        expectMessage([&] { (void)curve.logDf(1.0); }, message);
        expectMessage([&] { (void)curve.dfRV(daysAfter(10)); }, message);
        expectMessage([&] { (void)curve.logDfRV(1.0); }, message);
        expectMessage([&] { (void)curve.logDfLinearRates(1.0); }, message);
        EXPECT_THROW((void)curve.df(daysAfter(10)), std::runtime_error);
    }
}

// Monotone convex: every pillar's discount factor is kept; moving one pillar rate leaves
// ln DF bit for bit alike before its second neighbour on the left and after its second
// neighbour on the right, past the last pillar too, and a zigzag of positive discrete forwards
// keeps the forwards positive (the positivity amendment).
TEST(YieldCurve, MonotoneConvexKeepsPillarsAndIsLocal) {
    std::vector<date> pillars;
    std::vector<double> rates;
    double logDf = 0.0;
    for (long k = 1; k <= 9; ++k) {
        pillars.push_back(daysAfter(120 * k * k));
        const double t = static_cast<double>(120 * k * k) / 365.0;
        const double previous = static_cast<double>(120 * (k - 1) * (k - 1)) / 365.0;
        logDf += (k % 2 == 0 ? 0.002 : 0.05) * (t - previous);
        rates.push_back(logDf / t);
    }
    YieldCurve curve(valueDate, pillars, rates, YieldCurveInterpolation::MonotoneConvex);
    ASSERT_TRUE(curve.solvedGlobally());
    for (std::size_t k = 0; k < pillars.size(); ++k) {
        EXPECT_NEAR(std::exp(-rates[k] * curve.pillarTimes()[k]), curve.df(pillars[k]), 1e-15);
    }
    for (double t = 0.001; t < 30.0; t += 0.001) {
        ASSERT_GT(curve.logDf(t + 0.001), curve.logDf(t)) << t;
    }
    // A middle pillar, and the second before the last, whose move stays off the
    // extrapolated forwards.
    for (const std::size_t k : {std::size_t{4}, pillars.size() - 3}) {
        std::vector<double> before;
        const double last = curve.pillarTimes().back() + 2.0;
        for (double t = 0.002; t < last; t += 0.002) {
            before.push_back(curve.logDf(t));
        }
        curve.updateRate(k, rates[k] + 1e-4);
        const double low = curve.pillarTimes()[k - 2];
        const double high = curve.pillarTimes()[k + 2];
        bool movedNear = false;
        std::size_t i = 0;
        for (double t = 0.002; t < last; t += 0.002, ++i) {
            if (t <= low || t >= high) {
                EXPECT_EQ(bits(before[i]), bits(curve.logDf(t))) << t;
            } else {
                movedNear = movedNear || before[i] != curve.logDf(t);
            }
        }
        EXPECT_TRUE(movedNear);
        curve.updateRate(k, rates[k]);
    }
}
