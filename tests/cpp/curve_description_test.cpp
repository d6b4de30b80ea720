#include "curves/curve_description.hpp"

#include "conventions/init_defaults.hpp"

#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

using tsr::CurveDescription;
using tsr::date;

using namespace tsr::test;

namespace {

class Conventions : public ::testing::Environment {
public:
    void SetUp() override { initDefaults(); }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new Conventions);

CurveDescription usdSpec() {
    CurveDescription description;
    description.id = "USD SOFR";
    description.currency = "USD";
    description.valueDate = date(2026, 3, 16);
    description.instruments.generators = {"USD SOFR SW", "USD SOFR SW", "USD SOFR SW"};
    description.instruments.tenors = {"1Y", "2Y", "5Y"};
    description.instruments.quotes = {4.02, 3.76, 3.58};
    description.instruments.inUse = {true, true, true};
    return description;
}

} // namespace

TEST(CurveDescription, AbsentInterpolationIsLogLinearOrASplineWithCubicFrom) {
    EXPECT_EQ("LinearLogDf", tsr::buildCurve(usdSpec())->interpolation());
    CurveDescription empty = usdSpec();
    empty.cubicFrom = ""; // given, though empty: the spline from the value date
    const auto spline = tsr::buildCurve(empty);
    EXPECT_EQ("LogCubic", spline->interpolation());
    EXPECT_EQ(tsr::YieldCurve::splineFromOrigin, spline->splineFrom());
    CurveDescription named = usdSpec();
    named.interpolation = "linearrates";
    named.cubicFrom = "2Y";
    expectMessage([&] { tsr::buildCurve(named); },
                  "Error, \"cubic from\" needs the \"LogCubic\" or \"LinearLogDf\" interpolation.");
}

TEST(CurveDescription, RefusesUnequalColumnsAndUsedQuotesThatAreNotFinite) {
    CurveDescription shorter = usdSpec();
    shorter.instruments.inUse.pop_back();
    expectMessage([&] { tsr::buildCurve(shorter); },
                  "Instruments input should be of the same size.");
    CurveDescription infinite = usdSpec();
    infinite.instruments.quotes[1] = -INFINITY;
    expectMessage([&] { tsr::buildCurve(infinite); },
                  "Error, the quote of instrument 1 (USD SOFR SW 2Y) is not finite: -inf");
    infinite.instruments.inUse[1] = false;
    EXPECT_EQ(2U, tsr::buildCurve(infinite)->pillarDates().size());
}
