// Curves of dated swaps, futures rows and turns: every instrument gives back its quote, and the
// Jacobian agrees with curves rebuilt from moved quotes.
#include "curves/bootstrap.hpp"
#include "curves/curve_jacobian.hpp"
#include "curves/yield_curve.hpp"
#include "test_support.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

using namespace tsr;

namespace {

[[maybe_unused]] ::testing::Environment* const defaults = test::useDefaults();

const date valueDate(2026, 12, 8);

// Futures that need no fixings, dated swaps paying after their accrual ends, swaps and a turn.
YieldCurveInstruments deskInstruments() {
    struct Row {
        const char* generator;
        const char* tenor;
        double quote;
        const char* start;
        const char* end;
    };
    const Row rows[] = {
        {"USD SOFR 1M FUT", "2027-01", 96.30, nullptr, nullptr},
        {"USD SOFR 1M FUT", "2027-02", 96.35, nullptr, nullptr},
        {"USD SOFR SW", "", 3.62, "2027-03-01", "2027-03-17"},
        {"USD SOFR SW", "", 3.52, "2027-03-17", "2027-04-28"},
        {"USD SOFR 3M FUT", "2027-06", 96.60, nullptr, nullptr},
        {"USD SOFR 3M FUT", "2027-09", 96.70, nullptr, nullptr},
        {"USD SOFR SW", "2Y", 3.30, nullptr, nullptr},
        {"USD SOFR SW", "5Y", 3.32, nullptr, nullptr},
    };
    YieldCurveInstruments instruments;
    for (const Row& row : rows) {
        instruments.generators.emplace_back(row.generator);
        instruments.tenors.emplace_back(row.tenor);
        instruments.quotes.push_back(row.quote);
        instruments.inUse.push_back(true);
        const auto parse = [](const char* text) -> std::optional<date> {
            return text ? std::optional(boost::gregorian::from_simple_string(text)) : std::nullopt;
        };
        instruments.starts.push_back(parse(row.start));
        instruments.ends.push_back(parse(row.end));
        instruments.convexities.push_back(row.start ? 0.0 : 1.5);
    }
    instruments.turns.push_back({date(2026, 12, 31), date(2027, 1, 4), 20.0});
    return instruments;
}

YieldCurve deskCurve(const YieldCurveInstruments& instruments) {
    return {"USD SOFR", valueDate, "USD", "LinearLogDf", instruments};
}

TEST(DeskCurve, EveryInstrumentGivesBackItsQuote) {
    const YieldCurveInstruments instruments = deskInstruments();
    const YieldCurve curve = deskCurve(instruments);
    EXPECT_TRUE(curve.looksAhead());
    const std::vector<double> repriced = repricedQuotes(curve);
    ASSERT_EQ(repriced.size(), instruments.quotes.size());
    for (std::size_t i = 0; i < repriced.size(); ++i) {
        EXPECT_NEAR(repriced[i], instruments.quotes[i], 1e-12) << curve.instrumentSet().tenors[i];
    }
    EXPECT_EQ(curve.instrumentSet().tenors[2], "2027-03-01/2027-03-17");
    EXPECT_EQ(curve.instrumentSet().tenors[4], "3M FUT 2027-06");
}

TEST(DeskCurve, JacobianMatchesCentralDifferencesByRate) {
    const YieldCurveInstruments instruments = deskInstruments();
    const YieldCurve curve = deskCurve(instruments);
    const CurveJacobian& jacobian = curve.jacobian();
    constexpr double h = 1e-4;
    for (std::size_t m = 0; m < instruments.quotes.size(); ++m) {
        YieldCurveInstruments up = instruments;
        YieldCurveInstruments down = instruments;
        up.quotes[m] += h * curve.quoteDirection(m);
        down.quotes[m] -= h * curve.quoteDirection(m);
        const std::vector<double> upRates = deskCurve(up).rates();
        const std::vector<double> downRates = deskCurve(down).rates();
        for (std::size_t i = 0; i < upRates.size(); ++i) {
            EXPECT_NEAR((upRates[i] - downRates[i]) / (2.0 * h), jacobian(i, m), 1e-8)
                << "pillar " << i << ", instrument " << m;
        }
    }
}

TEST(DeskCurve, PillarsSettleFromRatesFarFromTheSolution) {
    // A few basis points away the blocks settle by Newton steps alone; two hundred away they
    // fall back to root searches.
    const YieldCurve solved = deskCurve(deskInstruments());
    for (const double offset : {5e-4, -2e-2}) {
        YieldCurve curve = solved;
        std::vector<PillarPricer> pricers;
        pricers.reserve(curve.pillarInstruments().size());
        for (std::size_t k = 0; k < curve.pillarInstruments().size(); ++k) {
            pricers.emplace_back(curve, k, curve.pillarInstruments()[k],
                                 k == 0 ? nullptr : &pricers.back());
            pricers.back().setQuote(curve.pillarInstruments()[k].quote);
        }
        std::vector<double> rates = curve.rates();
        for (double& rate : rates) {
            rate += offset;
        }
        curve.update(rates);
        solvePillars(curve, pricers, 0);
        for (std::size_t k = 0; k < rates.size(); ++k) {
            EXPECT_NEAR(curve.rates()[k], solved.rates()[k], 1e-13) << offset << ", pillar " << k;
        }
        const std::vector<double> repriced = repricedQuotes(curve);
        for (std::size_t i = 0; i < repriced.size(); ++i) {
            EXPECT_NEAR(repriced[i], solved.instrumentSet().quotes[i], 1e-12) << offset;
        }
    }
}

} // namespace
