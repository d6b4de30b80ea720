// The curve's Jacobian against central differences of curves rebuilt from bumped quotes, and
// the sparse discount-factor derivatives it is made of against dfRV.
#include "curves/curve_jacobian.hpp"
#include "curves/yield_curve.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <latch>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace tsr;
using namespace tsr::test;
using boost::gregorian::days;

namespace {

const std::string depositLabel = "TEST JACOBIAN DEPOSIT";

const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new DepositEnvironment(depositLabel));

const std::vector<std::string> tenors = {"1M", "3M", "6M",  "1Y",  "18M", "2Y", "3Y",
                                         "5Y", "7Y", "10Y", "15Y", "20Y", "30Y"};

// Quotes of one shape; with gaps, two rows are unused and a deposit row makes no pillar.
YieldCurveInstruments instrumentsOf(const std::string& generator, double level, double slope,
                                    bool gaps) {
    YieldCurveInstruments instruments = quotedInstruments(
        generator, tenors,
        [&](std::size_t i) {
            const double x = static_cast<double>(i) / static_cast<double>(tenors.size());
            return level + slope * std::sqrt(x) + 0.4 * std::sin(5.0 * x);
        },
        gaps ? std::vector<std::size_t>{2, 8} : std::vector<std::size_t>{});
    if (gaps) {
        insertDeposit(instruments, 3, depositLabel, 4.0);
    }
    return instruments;
}

struct CurveCase {
    std::string generator;
    std::string interpolation;
    double level;
    double slope;
    bool gaps;
    std::string cubicFrom = {};
};

const std::vector<CurveCase> curveCases = {
    {"USD SOFR SW", "LinearLogDf", 4.3, -0.9, true},
    {"USD SOFR SW", "LinearRates", 4.3, -0.9, true},
    {"EUR ESTR SW", "LinearLogDf", 2.0, 0.8, false},
    {"GBP SONIA SW", "LinearRates", 4.5, -1.2, false},
    {"JPY TONA SW", "LinearLogDf", -0.1, 1.1, false},
    {"CHF SARON SW", "LinearRates", -0.6, 0.7, true},
    {"USD SOFR SW", "LogCubic", 4.3, -0.9, true},
    {"GBP SONIA SW", "LogCubic", 4.5, -1.2, false},
    {"EUR ESTR SW", "LogCubic", 2.0, 0.8, false, "2Y"},
    {"JPY TONA SW", "LinearLogDf", -0.1, 1.1, true, "2029-01-10"},
    {"USD SOFR SW", "MonotoneConvex", 4.3, -0.9, true},
    {"CHF SARON SW", "MonotoneConvex", -0.6, 0.7, false},
};

} // namespace

TEST(CurveJacobian, DiscountFactorSensitivitiesEqualDfRV) {
    const date v(2026, 3, 16);
    for (const auto kind :
         {YieldCurveInterpolation::LinearRates, YieldCurveInterpolation::LinearLogDf}) {
        for (const std::size_t pillarCount : {1U, 2U, 5U}) {
            std::vector<date> pillars;
            std::vector<double> rates;
            for (std::size_t k = 0; k < pillarCount; ++k) {
                pillars.push_back(v + days(static_cast<int>(200 + 500 * k * k)));
                rates.push_back(0.03 + 0.004 * static_cast<double>(k % 3) -
                                0.001 * static_cast<double>(k));
            }
            const YieldCurve curve(v, pillars, rates, kind);
            std::vector<date> probes = pillars;
            for (int day = -3; day < 16000; day += 97) {
                probes.push_back(v + days(day));
            }
            for (const date& d : probes) {
                SCOPED_TRACE(iso(d) + " of " + std::to_string(pillarCount) + " pillars");
                const RiskVector expected = curve.dfRV(d);
                const YieldCurve::DfSensitivity found = curve.dfSensitivity(curve.point(d));
                EXPECT_EQ(bits(expected.value), bits(found.value));
                std::vector<double> dense(pillarCount, 0.0);
                for (std::size_t j = 0; j < found.count; ++j) {
                    dense[found.pillars[j]] += found.derivatives[j];
                }
                for (std::size_t k = 0; k < pillarCount; ++k) {
                    EXPECT_EQ(expected.derivatives[k], dense[k]) << "pillar " << k;
                }
            }
        }
    }
}

// On a spline every factor depends on every pillar, on a monotone-convex curve on nearby ones:
// the exact derivatives against central differences of the factor in each rate, and dfRV
// equal to them. A flat curve too, where every node forward equals its discrete forwards.
TEST(CurveJacobian, SplineDiscountFactorSensitivitiesMatchDifferences) {
    const date v(2026, 3, 16);
    std::vector<date> pillars;
    std::vector<double> shaped;
    for (std::size_t k = 0; k < 7; ++k) {
        pillars.push_back(v + days(static_cast<int>(40 + 400 * k * k)));
        shaped.push_back(0.03 + 0.004 * static_cast<double>(k % 3) -
                         0.001 * static_cast<double>(k));
    }
    // And a monotone-convex curve, whose factors depend on nearby pillars only.
    const std::vector<std::pair<YieldCurveInterpolation, std::size_t>> shapes = {
        {YieldCurveInterpolation::LogCubic, YieldCurve::splineFromOrigin},
        {YieldCurveInterpolation::LogCubic, 0},
        {YieldCurveInterpolation::LogCubic, 3},
        {YieldCurveInterpolation::MonotoneConvex, YieldCurve::splineFromOrigin}};
    const std::vector<double> flat(shaped.size(), 0.03);
    for (const auto& [kind, from] : shapes) {
        for (const std::vector<double>& rates : {shaped, flat}) {
            YieldCurve curve(v, pillars, rates, kind, from);
            ASSERT_TRUE(curve.solvedGlobally());
            for (int day = 1; day < 16000; day += 211) {
                const date d = v + days(day);
                SCOPED_TRACE(iso(d) + ", spline from " + std::to_string(from));
                const YieldCurve::DfSensitivity found = curve.dfSensitivity(curve.point(d));
                EXPECT_EQ(bits(curve.df(d)), bits(found.value));
                std::vector<double> exact(rates.size(), 0.0);
                curve.addDerivatives(found, 1.0, exact.data());
                const RiskVector rv = curve.dfRV(d);
                for (std::size_t k = 0; k < rates.size(); ++k) {
                    std::vector<double> moved = rates;
                    moved[k] = rates[k] + 1e-7;
                    curve.update(moved);
                    const double up = curve.df(d);
                    moved[k] = rates[k] - 1e-7;
                    curve.update(moved);
                    const double down = curve.df(d);
                    curve.update(rates);
                    const double scale = 1.0 + std::abs(exact[k]);
                    EXPECT_NEAR((up - down) / 2e-7, exact[k], 1e-8 * scale) << "pillar " << k;
                    EXPECT_NEAR(rv.derivatives[k], exact[k], 1e-14 * scale) << "pillar " << k;
                }
            }
        }
    }
}

TEST(CurveJacobian, AgreesWithCentralDifferencesOfRebuiltCurves) {
    const date v(2026, 12, 23);
    const double bump = 1e-4; // percent
    for (const CurveCase& c : curveCases) {
        SCOPED_TRACE(c.generator + " " + c.interpolation);
        YieldCurveInstruments instruments = instrumentsOf(c.generator, c.level, c.slope, c.gaps);
        const YieldCurve curve("curve", v, "CCY", c.interpolation, instruments, c.cubicFrom);
        const CurveJacobian& jacobian = curve.jacobian();
        ASSERT_EQ(curve.dates().size(), jacobian.pillars());
        ASSERT_EQ(instruments.quotes.size(), jacobian.instruments());
        for (std::size_t m = 0; m < instruments.quotes.size(); ++m) {
            const double quote = instruments.quotes[m];
            instruments.quotes[m] = quote + bump;
            const std::vector<double> up =
                YieldCurve("up", v, "CCY", c.interpolation, instruments, c.cubicFrom).rates();
            instruments.quotes[m] = quote - bump;
            const std::vector<double> down =
                YieldCurve("down", v, "CCY", c.interpolation, instruments, c.cubicFrom).rates();
            instruments.quotes[m] = quote;
            for (std::size_t k = 0; k < up.size(); ++k) {
                EXPECT_NEAR((up[k] - down[k]) / (2.0 * bump), jacobian(k, m), 1e-8)
                    << "pillar " << k << ", instrument " << m;
            }
        }
    }
}

TEST(CurveJacobian, IsMadeOnceForConcurrentReaders) {
    const auto curve =
        std::make_shared<const YieldCurve>("curve", date(2026, 6, 30), "USD", "LinearLogDf",
                                           instrumentsOf("USD SOFR SW", 4.0, -0.5, true));
    const std::vector<double> expected = CurveJacobian(*curve).values();
    constexpr std::size_t threads = 8;
    std::vector<const CurveJacobian*> seen(threads, nullptr);
    std::latch start(threads);
    {
        std::vector<std::jthread> readers;
        for (std::size_t t = 0; t < threads; ++t) {
            readers.emplace_back([&, t] {
                start.arrive_and_wait();
                seen[t] = &curve->jacobian();
            });
        }
    }
    for (const CurveJacobian* jacobian : seen) {
        EXPECT_EQ(seen[0], jacobian);
    }
    EXPECT_EQ(expected, seen[0]->values());
}

TEST(CurveJacobian, FollowsRateUpdatesAndCopies) {
    YieldCurve curve("curve", date(2026, 3, 16), "EUR", "LinearRates",
                     instrumentsOf("EUR ESTR SW", 2.5, 0.5, false));
    const std::vector<double> before = curve.jacobian().values();
    const YieldCurve copy = curve;
    EXPECT_EQ(before, copy.jacobian().values());
    std::vector<double> moved = curve.rates();
    for (double& r : moved) {
        r += 0.01;
    }
    curve.update(moved);
    EXPECT_NE(before, curve.jacobian().values());
    EXPECT_EQ(CurveJacobian(curve).values(), curve.jacobian().values());
    curve.updateRate(0, moved[0] + 0.02);
    EXPECT_EQ(CurveJacobian(curve).values(), curve.jacobian().values());
    EXPECT_EQ(before, copy.jacobian().values());

    // A curve made from pillars has rows but no instrument columns.
    const YieldCurve pillarsOnly(date(2026, 3, 16), {date(2027, 3, 16), date(2028, 3, 16)},
                                 {0.02, 0.03}, YieldCurveInterpolation::LinearLogDf);
    EXPECT_EQ(2U, pillarsOnly.jacobian().pillars());
    EXPECT_EQ(0U, pillarsOnly.jacobian().instruments());
}
