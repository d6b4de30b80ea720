#include "pricing/swap_analytics.hpp"

#include "conventions/generator_repository.hpp"
#include "conventions/generator_swap.hpp"
#include "curves/yield_curve.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace tsr;
using namespace tsr::test;

namespace {

[[maybe_unused]] ::testing::Environment* const defaultsEnvironment = useDefaults();

const date valueDate = d("2026-03-16");
constexpr double notional = 1e7;

YieldCurveInstruments usdQuotes() {
    YieldCurveInstruments instruments;
    const char* tenors[] = {"1M", "3M", "6M", "1Y", "2Y", "3Y", "5Y", "7Y", "10Y", "15Y"};
    const double quotes[] = {4.31, 4.28, 4.21, 4.02, 3.76, 3.64, 3.58, 3.61, 3.69, 3.80};
    for (std::size_t i = 0; i < std::size(tenors); ++i) {
        instruments.generators.emplace_back("USD SOFR SW");
        instruments.tenors.emplace_back(tenors[i]);
        instruments.inUse.push_back(true);
        instruments.quotes.push_back(quotes[i]);
    }
    return instruments;
}

YieldCurve usdCurve(const std::string& interpolation, double shift = 0.0) {
    YieldCurveInstruments instruments = usdQuotes();
    for (double& quote : instruments.quotes) {
        quote += shift;
    }
    return YieldCurve("USD SOFR", valueDate, "USD", interpolation, instruments);
}

// Fixed leg received against SOFR paid, or two SOFR legs, beside the built-in payer.
std::shared_ptr<const Generator> generator(const std::string& kind) {
    if (kind == "payer") {
        return GeneratorRepository::instance().get<Generator>("USD SOFR SW");
    }
    LegConventions first;
    LegConventions second = floatingLeg();
    if (kind == "receiver") {
        first.paid = false;
        second.paid = true;
    } else {
        first = floatingLeg();
        first.paid = true;
    }
    return std::make_shared<const GeneratorSwap>(swapGeneratorTree(kind, &first, &second));
}

std::shared_ptr<const Product> swap(const std::string& kind, date start, double rate) {
    // The solved number is leg 1's fixed rate, or leg 2's margin when both legs float.
    const bool basis = kind == "basis";
    ObjectTree t = swapTree(kind, start, start + boost::gregorian::years(7), basis ? 0.0 : rate,
                            basis ? rate : 0.0, notional, notional);
    t.add("leg1.margin", 0.0);
    return std::make_shared<const ProductInterestRateSwap>(generator(kind), t);
}

double npv(const std::shared_ptr<const Product>& product, const YieldCurve& curve,
           const FixingsMap& fixings) {
    CurveMap curves = singleCurveMap(dynamic_cast<const ProductInterestRateSwap&>(*product), curve);
    return ModelDiscountedCashFlow::price(product, curves, fixings).get<double>("NPV");
}

FixingsMap sofrFixings() {
    FixingsMap fixings;
    for (date x = d("2026-01-02"); x < valueDate; x += boost::gregorian::days(1)) {
        fixings["SOFR"].first.push_back(x);
        fixings["SOFR"].second.push_back(0.043);
    }
    return fixings;
}

} // namespace

TEST(SwapAnalytics, ParRateRepricesToZeroAndAnnuityIsTheSlopeOfTheNpv) {
    const FixingsMap fixings = sofrFixings();
    // Forward starting, and seasoned with a running period that needs fixings.
    for (const char* interpolation : {"LinearLogDf", "LinearRates"}) {
        const YieldCurve curve = usdCurve(interpolation);
        for (const char* kind : {"payer", "receiver", "basis"}) {
            for (const date start : {d("2026-04-20"), d("2026-01-05")}) {
                SCOPED_TRACE(std::string(interpolation) + " " + kind + " " + iso(start));
                const auto product = swap(kind, start, 0.02);
                CurveMap curves =
                    singleCurveMap(dynamic_cast<const ProductInterestRateSwap&>(*product), curve);
                const double par = parRate(product, curves, fixings);
                EXPECT_LT(std::abs(npv(swap(kind, start, par), curve, fixings)), 1e-8 * notional);

                const double h = 1e-4;
                const double slope = (npv(swap(kind, start, 0.02 + h), curve, fixings) -
                                      npv(swap(kind, start, 0.02 - h), curve, fixings)) /
                                     (2.0 * h);
                const double a = annuity(product, curves);
                EXPECT_GT(a, 0.0);
                EXPECT_NEAR(std::abs(slope), a, 1e-9 * a);
            }
        }
    }
}

TEST(SwapAnalytics, Dv01IsTheCentralDifferenceOnCurvesRebuiltWithEveryQuoteMoved) {
    for (const char* interpolation : {"LinearLogDf", "LinearRates"}) {
        SCOPED_TRACE(interpolation);
        const YieldCurve curve = usdCurve(interpolation);
        const auto product = swap("payer", d("2026-03-18"), 0.036);
        CurveMap curves =
            singleCurveMap(dynamic_cast<const ProductInterestRateSwap&>(*product), curve);
        const double expected = (npv(product, usdCurve(interpolation, 0.01), {}) -
                                 npv(product, usdCurve(interpolation, -0.01), {})) /
                                2.0;
        const double found = dv01(product, curves, {});
        EXPECT_NEAR(expected, found, 1e-12 * notional);
        // A payer gains when rates rise.
        EXPECT_GT(found, 0.0);
    }
}

TEST(SwapAnalytics, Dv01NeedsACurveBuiltFromQuotes) {
    const YieldCurve pillars(valueDate, {d("2036-03-16")}, {0.03},
                             YieldCurveInterpolation::LinearRates);
    const auto product = swap("payer", d("2026-03-18"), 0.03);
    CurveMap curves =
        singleCurveMap(dynamic_cast<const ProductInterestRateSwap&>(*product), pillars);
    expectMessage([&] { dv01(product, curves, {}); },
                  "Error, the curve has no quoted instruments to move: DV01 needs a curve "
                  "bootstrapped from quotes.");
}
