#include "conventions/generator_repository.hpp"
#include "curves/yield_curve.hpp"
#include "dates/date_arithmetic.hpp"
#include "dates/tenor.hpp"
#include "pricing/model_discounted_cash_flow.hpp"
#include "pricing/swap_pricer.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cstdint>

using namespace tsr;
using namespace tsr::test;

namespace {

[[maybe_unused]] ::testing::Environment* const defaultsEnvironment = useDefaults();

const date valueDate = d("2026-03-16");

YieldCurve curveOf(const std::string& generator, const std::string& interpolation, double shift) {
    YieldCurveInstruments rows;
    rows.tenors = {"1M", "3M", "6M", "1Y", "2Y", "3Y", "5Y", "7Y", "10Y", "15Y", "20Y"};
    for (std::size_t i = 0; i < rows.tenors.size(); ++i) {
        rows.generators.push_back(generator);
        rows.quotes.push_back(3.0 + 0.07 * static_cast<double>(i % 4) + shift);
        rows.inUse.push_back(true);
    }
    return YieldCurve(generator, valueDate, "", interpolation, rows);
}

// Every calendar day of the last 400, and today's when asked for.
FixingsMap fixingsOf(const std::string& index, bool withToday) {
    std::vector<date> days;
    std::vector<double> values;
    for (int k = 400; k >= (withToday ? 0 : 1); --k) {
        days.push_back(valueDate - boost::gregorian::days(k));
        values.push_back(0.03 + 1e-4 * (k % 7));
    }
    return {{index, {days, values}}};
}

} // namespace

// Seasoned, running, forward-starting swaps, maturing inside and past the pillars, with and
// without today's fixing, on the curve they were made with and on rebuilds from moved quotes.
TEST(SwapPricer, EqualsThePlainPriceToTheLastBit) {
    const std::vector<std::pair<std::string, std::string>> markets = {
        {"USD SOFR SW", "SOFR"}, {"GBP SONIA SW", "SONIA"}, {"JPY TONA SW", "TONA"}};
    std::size_t compared = 0;
    for (const auto& [generatorName, index] : markets) {
        const auto generator = GeneratorRepository::instance().get<Generator>(generatorName);
        for (const std::string interpolation : {"LinearLogDf", "LinearRates"}) {
            const YieldCurve base = curveOf(generatorName, interpolation, 0.0);
            const YieldCurve moved = curveOf(generatorName, interpolation, 0.37);
            for (const bool withToday : {true, false}) {
                const FixingsMap fixings = fixingsOf(index, withToday);
                for (const int offset : {-380, -40, -3, 0, 2, 45, 400}) {
                    for (const char* tenor : {"3M", "1Y", "2Y", "7Y", "12Y", "30Y"}) {
                        const date start = valueDate + boost::gregorian::days(offset);
                        const date end = addTenor(start, Tenor(tenor));
                        if (end <= valueDate) {
                            continue;
                        }
                        const auto swap = std::make_shared<const ProductInterestRateSwap>(
                            generator, swapTree("swap", start, end, 0.031, 0.0015, 1e7, 1e7));
                        const SwapPricer pricer(swap, base, fixings);
                        std::vector<double> dfs;
                        for (const YieldCurve* curve : {&base, &moved}) {
                            CurveMap curves{{swap->legs()[0].currency, curve}, {index, curve}};
                            const ObjectTree plain =
                                ModelDiscountedCashFlow::price(swap, curves, fixings);
                            const SwapPricer::Values fast = pricer.value(*curve, dfs);
                            const std::string where = generatorName + " " + interpolation + " " +
                                                      iso(start) + " " + tenor;
                            EXPECT_EQ(bits(plain.get<double>("Leg1 PV")), bits(fast.leg1)) << where;
                            EXPECT_EQ(bits(plain.get<double>("Leg2 PV")), bits(fast.leg2)) << where;
                            EXPECT_EQ(bits(plain.get<double>("NPV")), bits(fast.npv)) << where;
                            ++compared;
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(compared, 400U);
}

TEST(SwapPricer, RaisesWhatThePriceRaises) {
    const YieldCurve curve = curveOf("USD SOFR SW", "LinearLogDf", 0.0);
    const auto swap = std::make_shared<const ProductInterestRateSwap>(
        GeneratorRepository::instance().get<Generator>("USD SOFR SW"),
        swapTree("seasoned", d("2026-01-05"), d("2031-01-05"), 0.03, 0.0, 1e6, 1e6));
    expectMessage([&] { SwapPricer(swap, curve, {}); }, "No fixings for index SOFR");
    FixingsMap gap = fixingsOf("SOFR", true);
    gap["SOFR"].first[390] = d("1999-01-01");
    expectMessage([&] { SwapPricer(swap, curve, gap); },
                  "Fixing is required for date " + iso(valueDate - boost::gregorian::days(10)));
}
