// Curves solved for all pillars at once: every instrument reprices, a log-linear front is
// the log-linear bootstrap's, and a failed solve names its worst instrument.
#include "curves/bootstrap.hpp"
#include "curves/curve_jacobian.hpp"
#include "curves/global_solve.hpp"
#include "curves/yield_curve.hpp"
#include "curves/yield_curve_builder.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace tsr;
using namespace tsr::test;
using boost::gregorian::days;

namespace {

[[maybe_unused]] ::testing::Environment* const defaultsEnvironment = useDefaults();

const std::vector<std::string> tenors = {"1M", "3M",  "6M",  "1Y",  "18M", "2Y",  "3Y", "5Y",
                                         "7Y", "10Y", "12Y", "15Y", "20Y", "25Y", "30Y"};

YieldCurveInstruments quotes(const std::string& generator, double level, double hump) {
    return quotedInstruments(generator, tenors, [&](std::size_t i) {
        const double x = static_cast<double>(i) / static_cast<double>(tenors.size());
        return level + hump * std::sin(4.0 * x) - 0.5 * x;
    });
}

struct Case {
    std::string generator;
    std::string interpolation;
    std::string cubicFrom;
    double level;
    double hump;
};

const std::vector<Case> cases = {
    {"USD SOFR SW", "LogCubic", "", 3.7, 0.6},
    {"EUR ESTR SW", "LogCubic", "", 1.9, 0.9},
    {"GBP SONIA SW", "LogCubic", "18M", 4.1, -0.4},
    {"JPY TONA SW", "LogCubic", "", 0.2, 0.8},
    {"CHF SARON SW", "LogCubic", "5Y", -0.3, 0.7},
    {"SGD SORA SW", "LinearLogDf", "1Y", 2.8, 0.3},
    {"USD SOFR SW", "MonotoneConvex", "", 3.7, 0.6},
    {"JPY TONA SW", "MonotoneConvex", "", 0.2, 0.8},
    {"CHF SARON SW", "MonotoneConvex", "", -0.3, 0.7},
};

} // namespace

TEST(GlobalSolve, EveryInstrumentRepricesToItsQuote) {
    const date v(2026, 12, 8);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.generator + " " + c.interpolation + " from " + c.cubicFrom);
        YieldCurve curve("curve", v, "CCY", c.interpolation, quotes(c.generator, c.level, c.hump),
                         c.cubicFrom);
        ASSERT_TRUE(curve.solvedGlobally());
        const std::size_t n = curve.pillarRates().size();
        for (std::size_t k = 0; k < n; ++k) {
            const auto& instrument = curve.pillarInstruments()[k];
            PillarPricer pricer(curve, k, instrument.swap);
            pricer.setQuote(instrument.quote);
            pricer.prepare(curve);
            std::vector<double> row(n, 0.0);
            const double annuity =
                100.0 * instrumentDerivatives(curve, pricer.swap(), instrument.quote, row.data());
            EXPECT_LT(std::abs(pricer.value(curve) / annuity), 1e-12) << "instrument " << k;
        }
    }
}

TEST(GlobalSolve, LogLinearFrontIsTheLogLinearBootstrap) {
    const date v(2026, 12, 8);
    const YieldCurveInstruments instruments = quotes("USD SOFR SW", 3.7, 0.6);
    const YieldCurve linear("linear", v, "USD", "LinearLogDf", instruments);
    const YieldCurve mixed("mixed", v, "USD", "LogCubic", instruments, "2Y");
    const date spline = mixed.pillarDates()[mixed.splineFrom()];
    EXPECT_EQ(linear.pillarDates()[5], spline); // the first pillar on or after two years
    for (date d = v; d <= spline; d += days(3)) {
        EXPECT_NEAR(linear.df(d), mixed.df(d), 1e-15) << iso(d);
    }
    EXPECT_GT(std::abs(linear.df(v + days(3650)) - mixed.df(v + days(3650))), 1e-7);
    // Past every pillar, or past the last but one, there is no spline to draw.
    for (const char* from : {"31Y", "2056-12-12"}) {
        const YieldCurve flat("flat", v, "USD", "LogCubic", instruments, from);
        EXPECT_FALSE(flat.solvedGlobally());
        EXPECT_EQ(linear.rates(), flat.rates());
    }
    EXPECT_THROW(YieldCurve("bad", v, "USD", "LinearRates", instruments, "2Y"),
                 std::invalid_argument);
    EXPECT_THROW(YieldCurve("bad", v, "USD", "LogCubic", instruments, "2X"), std::invalid_argument);
    EXPECT_THROW(YieldCurve("bad", v, "USD", "MonotoneConvex", instruments, "2Y"),
                 std::invalid_argument);
}

TEST(GlobalSolve, FailureNamesTheWorstInstrument) {
    YieldCurve curve("curve", date(2026, 12, 8), "USD", "LogCubic",
                     quotes("USD SOFR SW", 3.7, 0.6));
    std::vector<PillarPricer> pricers;
    std::vector<double> quoted;
    for (std::size_t k = 0; k < curve.pillarInstruments().size(); ++k) {
        pricers.emplace_back(curve, k, curve.pillarInstruments()[k].swap);
        quoted.push_back(k == 6 ? std::numeric_limits<double>::quiet_NaN()
                                : curve.pillarInstruments()[k].quote);
        pricers.back().setQuote(quoted.back());
    }
    const std::string message = messageOf([&] {
        solvePillarsTogether(curve, pricers, quoted,
                             [](std::size_t k) { return "SW " + std::to_string(k); });
    });
    EXPECT_NE(std::string::npos, message.find("instrument SW 6 is inf from its quote")) << message;
}
