// Analytic key-rate risk against the bump-and-rebuild risk over a generated book of swaps, and
// the reverse pass it rests on against the model's own price.
#include "allocation_counter.hpp"
#include "conventions/generator_repository.hpp"
#include "conventions/generator_swap.hpp"
#include "conventions/index_repository.hpp"
#include "conventions/ois_index.hpp"
#include "curves/yield_curve.hpp"
#include "dates/calendar_repository.hpp"
#include "dates/date_arithmetic.hpp"
#include "dates/tenor.hpp"
#include "pricing/analytic_risk.hpp"
#include "pricing/model_discounted_cash_flow.hpp"
#include "pricing/swap_gradient.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

using namespace tsr;
using namespace tsr::test;
using boost::gregorian::days;

namespace {

const std::string depositLabel = "TEST RISK DEPOSIT";

const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new DepositEnvironment(depositLabel));

const std::vector<std::string> tenors = {"1M", "3M",  "6M",  "1Y",  "2Y",  "3Y", "5Y",
                                         "7Y", "10Y", "12Y", "15Y", "20Y", "30Y"};

struct CurveCase {
    std::string name;
    date valueDate;
    std::string generator;
    std::string interpolation;
    bool gaps; // two unused rows and a deposit row
    bool todaysFixing;
};

std::shared_ptr<const YieldCurve> curveOf(const CurveCase& c) {
    const double level = c.generator == "CHF SARON SW" || c.generator == "JPY TONA SW" ? 0.1 : 3.2;
    YieldCurveInstruments instruments = quotedInstruments(
        c.generator, tenors,
        [&](std::size_t i) {
            const double x = static_cast<double>(i) / static_cast<double>(tenors.size());
            return level + 0.9 * std::sqrt(x) - 0.5 * std::sin(4.0 * x);
        },
        c.gaps ? std::vector<std::size_t>{1, 7} : std::vector<std::size_t>{});
    if (c.gaps) {
        insertDeposit(instruments, 0, depositLabel, 3.0);
    }
    return std::make_shared<const YieldCurve>("curve", c.valueDate, "CCY", c.interpolation,
                                              instruments);
}

std::vector<CurveCase> curveCases() {
    std::vector<CurveCase> cases;
    const char* generators[] = {"USD SOFR SW",  "EUR ESTR SW", "GBP SONIA SW",
                                "CHF SARON SW", "JPY TONA SW", "SGD SORA SW"};
    bool flip = false;
    for (const date v : {date(2026, 3, 16), date(2026, 12, 23)}) {
        for (const char* generator : generators) {
            for (const char* interpolation : {"LinearLogDf", "LinearRates"}) {
                flip = !flip;
                cases.push_back({iso(v) + " " + generator + " " + interpolation, v, generator,
                                 interpolation, flip, !flip});
            }
        }
    }
    return cases;
}

struct Trade {
    std::string name;
    std::shared_ptr<const ProductInterestRateSwap> swap;
    double notional;
};

// Spot and forward-starting, ending between pillars, before the first and after the last,
// seasoned with a running period, and one with only its last payment left.
std::vector<Trade> tradesOn(const CurveCase& c) {
    const auto generator = GeneratorRepository::instance().get<GeneratorSwap>(c.generator);
    const auto calendar = CalendarRepository::instance().get(generator->calendar());
    const date spot = addBusinessDays(c.valueDate, generator->startDelay(), *calendar);
    const auto plus = [](date d, const char* tenor) { return addTenor(d, Tenor(tenor)); };
    const auto trade = [&](const char* name, date start, date end, double rate, double margin,
                           double notional) {
        return Trade{name,
                     std::make_shared<const ProductInterestRateSwap>(
                         generator, swapTree(name, start, end, rate, margin, notional, notional)),
                     notional};
    };
    const date seasoned = c.valueDate - days(151);
    return {
        trade("spot 10Y", spot, plus(spot, "10Y"), 0.036, 0.0, 1e7),
        trade("spot 8Y, between pillars", spot, plus(spot, "8Y"), 0.03, 0.001, 1e6),
        trade("2Y into 5Y", plus(spot, "2Y"), plus(spot, "7Y"), 0.031, 0.0, 5e6),
        trade("spot 2W, before the first pillar", spot, spot + days(14), 0.04, 0.0, 1e6),
        trade("spot 40Y, past the last pillar", spot, plus(spot, "40Y"), 0.03, 0.0, 1e6),
        trade("seasoned 7Y", seasoned, plus(seasoned, "7Y"), 0.028, 0.0015, 2e6),
        trade("seasoned 11M", c.valueDate - days(40), c.valueDate + days(300), 0.02, 0.0, 3e6),
        trade("last payment pending", subtractTenor(c.valueDate - days(1), Tenor("1Y")),
              c.valueDate - days(1), 0.035, 0.0, 1e6),
        trade("the 5Y instrument", spot, plus(spot, "5Y"), 0.033, 0.0, 1.0),
    };
}

// Fixings on every index business day of the last 400 days; today's only when asked for.
FixingsMap fixingsFor(const ProductInterestRateSwap& swap, const date& v, bool today) {
    FixingsMap fixings;
    for (const auto& leg : swap.legs()) {
        if (leg.isFixed) {
            continue;
        }
        const auto index = IndexRepository::instance().get<OisIndex>(leg.index);
        const auto calendar = CalendarRepository::instance().get(index->calendar());
        auto& [dates, values] = fixings[leg.index];
        for (date d = v - days(400); d < v || (today && d == v); d += days(1)) {
            if (calendar->isBusinessDay(d) || d == v) {
                dates.push_back(d);
                values.push_back(0.021 + 1e-5 * static_cast<double>(dates.size() % 13));
            }
        }
    }
    return fixings;
}

CurveMap curveMap(const ProductInterestRateSwap& swap, const YieldCurve* curve) {
    CurveMap curves{{swap.legs()[0].currency, curve}};
    for (const auto& leg : swap.legs()) {
        if (!leg.isFixed) {
            curves[leg.index] = curve;
        }
    }
    return curves;
}

} // namespace

TEST(AnalyticRisk, AgreesWithBumpedRiskOnEveryEntry) {
    std::size_t swaps = 0;
    for (const CurveCase& c : curveCases()) {
        const auto curve = curveOf(c);
        for (const Trade& trade : tradesOn(c)) {
            SCOPED_TRACE(c.name + ", " + trade.name);
            CurveMap curves = curveMap(*trade.swap, curve.get());
            const FixingsMap fixings = fixingsFor(*trade.swap, c.valueDate, c.todaysFixing);
            const ObjectTree bumped = ModelDiscountedCashFlow::risk(trade.swap, curves, fixings);
            const KeyRateRisk found = analyticRisk(*trade.swap, curves, fixings);
            ASSERT_EQ(curve->instruments().tenors, found.tenors);
            const double tolerance = 1e-9 * trade.notional;
            for (const auto& [key, values] :
                 {std::pair{"Leg1", &found.leg1}, {"Leg2", &found.leg2}, {"Net", &found.net}}) {
                const std::vector<double> expected = column(bumped, key);
                ASSERT_EQ(expected.size(), values->size());
                for (std::size_t m = 0; m < expected.size(); ++m) {
                    EXPECT_NEAR(expected[m], (*values)[m], tolerance) << key << " [" << m << "]";
                }
            }
            // The pass prices what the model prices, to the last bit.
            SwapGradient gradient;
            gradient.compute(*trade.swap, curves, fixings, *curve);
            const ObjectTree price = ModelDiscountedCashFlow::price(trade.swap, curves, fixings);
            EXPECT_EQ(price.get<double>("Leg1 PV"), gradient.value(0));
            EXPECT_EQ(price.get<double>("Leg2 PV"), gradient.value(1));
            ++swaps;
        }
    }
    EXPECT_GE(swaps, 200U);
}

// The exact second derivatives in the pillar rates against central differences of the exact
// gradient on curves made from the moved pillars, over every curve case and trade.
TEST(AnalyticRisk, SecondDerivativesAreDifferencesOfTheGradient) {
    constexpr double h = 1e-5;
    for (const CurveCase& c : curveCases()) {
        const auto curve = curveOf(c);
        const std::vector<double>& rates = curve->pillarRates();
        const std::size_t n = rates.size();
        for (const Trade& trade : tradesOn(c)) {
            SCOPED_TRACE(c.name + ", " + trade.name);
            const CurveMap curves = curveMap(*trade.swap, curve.get());
            const FixingsMap fixings = fixingsFor(*trade.swap, c.valueDate, c.todaysFixing);
            SwapGradient second;
            second.computeSecondOrder(*trade.swap, curves, fixings, *curve, nullptr, {});
            SwapGradient first;
            first.compute(*trade.swap, curves, fixings, *curve);
            EXPECT_EQ(first.gradient(0), second.gradient(0));
            EXPECT_EQ(first.gradient(1), second.gradient(1));
            const std::vector<double> hessian = second.hessian();
            double largest = 1e-300;
            for (const double x : hessian) {
                largest = std::max(largest, std::abs(x));
            }
            std::vector<double> direction(n);
            for (std::size_t k = 0; k < n; ++k) {
                direction[k] = std::cos(static_cast<double>(k));
                std::vector<double> up = rates;
                std::vector<double> down = rates;
                up[k] += h;
                down[k] -= h;
                const YieldCurve upper(c.valueDate, curve->pillarDates(), up,
                                       curve->interpolationKind());
                const YieldCurve lower(c.valueDate, curve->pillarDates(), down,
                                       curve->interpolationKind());
                SwapGradient above;
                SwapGradient below;
                above.compute(*trade.swap, curveMap(*trade.swap, &upper), fixings, upper);
                below.compute(*trade.swap, curveMap(*trade.swap, &lower), fixings, lower);
                for (std::size_t i = 0; i < n; ++i) {
                    const double difference = (above.gradient(0)[i] + above.gradient(1)[i] -
                                               below.gradient(0)[i] - below.gradient(1)[i]) /
                                              (2.0 * h);
                    EXPECT_NEAR(difference, hessian[i * n + k], 1e-6 * largest)
                        << "[" << i << ", " << k << "]";
                }
            }
            // Along a direction: the Hessian times it.
            second.computeSecondOrder(*trade.swap, curves, fixings, *curve, nullptr, direction);
            for (std::size_t i = 0; i < n; ++i) {
                double product = 0.0;
                for (std::size_t k = 0; k < n; ++k) {
                    product += hessian[i * n + k] * direction[k];
                }
                EXPECT_NEAR(product, second.hessianTimesDirection()[i], 1e-12 * largest * n);
            }
        }
    }
}

TEST(AnalyticRisk, FailsAsTheBumpedRiskDoes) {
    const CurveCase c{"", date(2026, 3, 16), "USD SOFR SW", "LinearLogDf", false, false};
    const auto curve = curveOf(c);
    const std::vector<Trade> trades = tradesOn(c);
    const auto& spot = trades[0].swap;
    const auto& seasoned = trades[5].swap;
    CurveMap full = curveMap(*spot, curve.get());
    CurveMap noCurrency{{"SOFR", curve.get()}};
    CurveMap noIndex{{"USD", curve.get()}};
    const FixingsMap none;
    FixingsMap gap = fixingsFor(*seasoned, c.valueDate, false);
    gap["SOFR"].first.erase(gap["SOFR"].first.end() - 30);
    gap["SOFR"].second.pop_back();
    const auto other = std::make_shared<const YieldCurve>(
        c.valueDate, curve->dates(), curve->rates(), YieldCurveInterpolation::LinearRates);
    struct Case {
        const char* name;
        std::shared_ptr<const Product> product;
        CurveMap* curves;
        const FixingsMap* fixings;
    };
    for (const Case& e : std::vector<Case>{{"no product", nullptr, &full, &none},
                                           {"no discount curve", spot, &noCurrency, &none},
                                           {"no estimation curve", spot, &noIndex, &none},
                                           {"no fixings", seasoned, &full, &none},
                                           {"a missing fixing", seasoned, &full, &gap}}) {
        SCOPED_TRACE(e.name);
        const std::string expected =
            messageOf([&] { ModelDiscountedCashFlow::risk(e.product, *e.curves, *e.fixings); });
        EXPECT_NE("no exception", expected);
        EXPECT_EQ(expected, messageOf([&] { analyticRiskTree(e.product, *e.curves, *e.fixings); }));
    }
    // A curve made from pillars has no instruments: four empty columns, as with bumping.
    CurveMap pillarsOnly = curveMap(*spot, other.get());
    const ObjectTree tree = analyticRiskTree(spot, pillarsOnly, none);
    for (const char* key : {"Tenor", "Leg1", "Leg2", "Net"}) {
        EXPECT_TRUE(tree.get_child(key).empty()) << key;
    }
}

TEST(AnalyticRisk, ReversePassAllocatesNothingOnceWarm) {
    const CurveCase c{"", date(2026, 12, 23), "GBP SONIA SW", "LinearLogDf", true, true};
    const auto curve = curveOf(c);
    curve->jacobian();
    SwapGradient gradient;
    std::vector<std::size_t> counts;
    for (const Trade& trade : tradesOn(c)) {
        CurveMap curves = curveMap(*trade.swap, curve.get());
        const FixingsMap fixings = fixingsFor(*trade.swap, c.valueDate, true);
        gradient.compute(*trade.swap, curves, fixings, *curve);
        analyticRisk(*trade.swap, curves, fixings);
        const std::size_t before = allocations.load();
        gradient.compute(*trade.swap, curves, fixings, *curve);
        EXPECT_EQ(before, allocations.load()) << trade.name;
        // The ladder itself is allocated, the same few blocks whatever the swap's length.
        const std::size_t start = allocations.load();
        analyticRisk(*trade.swap, curves, fixings);
        counts.push_back(allocations.load() - start);
    }
    for (const std::size_t count : counts) {
        EXPECT_EQ(counts.front(), count);
    }
}
