#include "curves/curve_rates.hpp"

#include "curves/yield_curve.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

using namespace tsr;
using namespace tsr::test;

namespace {

[[maybe_unused]] ::testing::Environment* const defaultsEnvironment = useDefaults();

const date valueDate = d("2026-03-16");

YieldCurve usdCurve(const std::string& interpolation) {
    YieldCurveInstruments instruments;
    const char* tenors[] = {"1M", "6M", "1Y", "2Y", "5Y", "10Y"};
    const double quotes[] = {4.31, 4.21, 4.02, 3.76, 3.58, 3.69};
    for (std::size_t i = 0; i < std::size(tenors); ++i) {
        instruments.generators.emplace_back("USD SOFR SW");
        instruments.tenors.emplace_back(tenors[i]);
        instruments.inUse.push_back(true);
        instruments.quotes.push_back(quotes[i]);
    }
    return YieldCurve("USD SOFR", valueDate, "USD", interpolation, instruments);
}

} // namespace

TEST(CurveRates, ZeroAndForwardRatesFollowTheDiscountFactors) {
    for (const char* interpolation : {"LinearLogDf", "LinearRates"}) {
        SCOPED_TRACE(interpolation);
        const YieldCurve curve = usdCurve(interpolation);
        const auto& pillars = curve.pillarDates();
        for (std::size_t k = 0; k < pillars.size(); ++k) {
            EXPECT_NEAR(curve.pillarRates()[k], zeroRate(curve, pillars[k]), 1e-15);
        }
        const date x = d("2031-07-01");
        EXPECT_NEAR(-std::log(curve.df(x)) / curveTime(valueDate, x), zeroRate(curve, x), 1e-15);
        // The value date and earlier dates carry the rate up to the first pillar.
        const double shortRate = zeroRate(curve, valueDate + boost::gregorian::days(1));
        EXPECT_NEAR(shortRate, zeroRate(curve, valueDate), 1e-15);
        EXPECT_NEAR(shortRate, zeroRate(curve, d("2020-01-01")), 1e-15);

        const date start = d("2028-03-16");
        const date end = d("2029-03-16");
        EXPECT_EQ((curve.df(start) / curve.df(end) - 1.0) / (365.0 / 360.0),
                  forwardRate(curve, start, end, dayCounterNamed("act/360")));
        EXPECT_EQ((curve.df(start) / curve.df(end) - 1.0) / 1.0,
                  forwardRate(curve, start, end, dayCounterNamed("ACT/365F")));
    }
}

TEST(CurveRates, WrongForwardArgumentsNameThemselves) {
    const YieldCurve curve = usdCurve("LinearLogDf");
    expectThrowWithMessage<std::invalid_argument>(
        [] { dayCounterNamed("ACT/366"); },
        "Error, unknown day count 'ACT/366' (known: Act/360, Act/365F, Act/Act, 30/360, 30E/360).");
    expectThrowWithMessage<std::invalid_argument>(
        [&] { forwardRate(curve, d("2027-01-01"), d("2027-01-01"), DayCounter("Act/360")); },
        "Error, the forward period ends on 2027-01-01, not after its start 2027-01-01.");
    expectThrowWithMessage<std::invalid_argument>(
        [&] { forwardRate(curve, d("2027-01-30"), d("2027-01-31"), DayCounter("30E/360")); },
        "Error, the forward period from 2027-01-30 to 2027-01-31 has a zero day count "
        "fraction.");
}
