#include "curves/yield_curve_builder.hpp"

#include "conventions/generator_deposit.hpp"
#include "conventions/generator_repository.hpp"
#include "conventions/generator_swap.hpp"
#include "conventions/init_defaults.hpp"
#include "curves/bootstrap.hpp"
#include "dates/calendar_repository.hpp"
#include "dates/single_calendar.hpp"
#include "products/product_interest_rate_swap.hpp"

#include "test_support.hpp"
#include <boost/date_time/gregorian/gregorian.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using tsr::date;
using tsr::ObjectTree;
using tsr::YieldCurve;
using tsr::YieldCurveBuilder;
using tsr::YieldCurveInstruments;

using namespace tsr::test;

namespace {

const std::string depositLabel = "TEST USD DEPOSIT";

class Conventions : public ::testing::Environment {
public:
    void SetUp() override {
        initDefaults();
        tsr::GeneratorRepository::instance().add(
            depositLabel,
            std::make_shared<tsr::GeneratorDeposit>(depositGeneratorTree(depositLabel)));
    }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new Conventions);

const std::vector<std::string> builtinGenerators = {"USD SOFR SW", "SGD SORA SW",  "GBP SONIA SW",
                                                    "EUR ESTR SW", "CHF SARON SW", "JPY TONA SW"};

const std::vector<std::string> tenors = {"1W",  "1M",  "2M",  "3M",  "6M", "9M", "1Y",
                                         "18M", "2Y",  "3Y",  "4Y",  "5Y", "7Y", "10Y",
                                         "12Y", "15Y", "20Y", "25Y", "30Y"};

struct QuoteSet {
    std::string name;
    std::vector<double> quotes;
};

// Quotes in percent, one per tenor above.
std::vector<QuoteSet> quoteSets() {
    std::vector<QuoteSet> sets = {{"flat", {}}, {"upward", {}}, {"inverted", {}}, {"negative", {}}};
    for (std::size_t i = 0; i < tenors.size(); ++i) {
        const double x = static_cast<double>(i) / static_cast<double>(tenors.size() - 1);
        sets[0].quotes.push_back(3.0);
        sets[1].quotes.push_back(0.8 + 3.9 * std::sqrt(x));
        sets[2].quotes.push_back(5.4 - 1.9 * x);
        sets[3].quotes.push_back(-0.78 + 0.5 * x * x);
    }
    return sets;
}

struct Row {
    std::string generator;
    std::string tenor;
    double quote;
    bool inUse;
};

ObjectTree curveTree(const date& valueDate, const std::vector<Row>& rows,
                     std::optional<std::string> interpolation = std::nullopt) {
    ObjectTree tree;
    tree.add("value date", valueDate);
    tree.add("id", std::string("TEST CURVE"));
    tree.add("currency", std::string("USD"));
    if (interpolation) {
        tree.add("interpolation", *interpolation);
    }
    std::vector<std::string> generators, tenorTexts;
    std::vector<double> quotes;
    ObjectTree inUse;
    for (const Row& row : rows) {
        generators.push_back(row.generator);
        tenorTexts.push_back(row.tenor);
        quotes.push_back(row.quote);
        inUse.push_back(std::make_pair(std::string(),
                                       ObjectTree(std::make_shared<tsr::BoxedValue>(row.inUse))));
    }
    ObjectTree table;
    tsr::addVector(table, "generator", generators);
    tsr::addVector(table, "tenor", tenorTexts);
    tsr::addVector(table, "quote", quotes);
    table.add_child("in use", inUse);
    tree.add_child("instruments", table);
    return tree;
}

std::vector<Row> rowsFor(const std::string& generator, const std::vector<double>& quotes) {
    std::vector<Row> rows;
    for (std::size_t i = 0; i < tenors.size(); ++i) {
        rows.push_back({generator, tenors[i], quotes[i], true});
    }
    return rows;
}

// The swaps of the used rows, made through the builder's own path.
std::vector<std::shared_ptr<const tsr::Product>> productsOf(const ObjectTree& tree) {
    const auto details = YieldCurveBuilder::validate(tree);
    return YieldCurveBuilder::construct(details.valueDate, details.tenors, details.generators,
                                        details.quotes, details.inUse);
}

const tsr::ProductInterestRateSwap& swapOf(const std::shared_ptr<const tsr::Product>& product) {
    return dynamic_cast<const tsr::ProductInterestRateSwap&>(*product);
}

class NotASwap : public tsr::Product {
public:
    NotASwap() : Product(tree()) {}
    date lastDate() const override { return date(2030, 1, 1); }

private:
    static ObjectTree tree() {
        ObjectTree t;
        t.add("id", std::string("not a swap"));
        return t;
    }
};

const date valueDate(2026, 3, 16);

} // namespace

TEST(YieldCurveBuilder, EveryBuiltinGeneratorBootstrapsAndRepricesItsInstruments) {
    for (const auto& generator : builtinGenerators) {
        for (const auto& set : quoteSets()) {
            for (const std::string interpolation : {"LinearRates", "LinearLogDf"}) {
                SCOPED_TRACE(generator + " " + set.name + " " + interpolation);
                const ObjectTree tree =
                    curveTree(valueDate, rowsFor(generator, set.quotes), interpolation);
                const auto curve = YieldCurveBuilder::build2(tree);
                const auto products = productsOf(tree);
                ASSERT_EQ(tenors.size(), products.size());
                ASSERT_EQ(tenors.size(), curve->dates().size());
                for (std::size_t k = 0; k < products.size(); ++k) {
                    EXPECT_EQ(products[k]->lastDate(), curve->dates()[k]);
                    EXPECT_LT(std::abs(tsr::price(curve.get(), products[k])), 1e-12) << tenors[k];
                    EXPECT_GT(curve->rates()[k], -0.05);
                    EXPECT_LT(curve->rates()[k], 0.07);
                }
            }
        }
    }
}

// A single-period swap is at par when df(end) = df(start) / (1 + K tau).
TEST(YieldCurveBuilder, ShortSwapsMatchTheSimpleCompoundingParCondition) {
    const std::vector<Row> rows = {{"USD SOFR SW", "1W", 4.31, true},
                                   {"USD SOFR SW", "1M", 4.28, true},
                                   {"USD SOFR SW", "3M", 4.19, true},
                                   {"USD SOFR SW", "6M", 4.02, true},
                                   {"USD SOFR SW", "11M", 3.91, true}};
    for (const std::string interpolation : {"LinearRates", "LinearLogDf"}) {
        const ObjectTree tree = curveTree(valueDate, rows, interpolation);
        const auto curve = YieldCurveBuilder::build2(tree);
        const auto products = productsOf(tree);
        for (std::size_t k = 0; k < rows.size(); ++k) {
            const auto& fixed = swapOf(products[k]).legs()[0];
            ASSERT_EQ(1u, fixed.paymentDates.size()) << rows[k].tenor;
            const date start = fixed.accrualStartDates[0];
            const date end = fixed.accrualEndDates[0];
            const double tau = static_cast<double>((end - start).days()) / 360.0;
            EXPECT_NEAR(curve->df(start) / (1.0 + rows[k].quote / 100.0 * tau), curve->df(end),
                        1e-14)
                << interpolation << " " << rows[k].tenor;
        }
    }
}

TEST(YieldCurveBuilder, InterpolationIsLinearLogDfByDefaultAndNamesIgnoreCase) {
    const std::vector<Row> rows = {{"USD SOFR SW", "1Y", 3.0, true},
                                   {"USD SOFR SW", "2Y", 3.2, true}};
    const auto byDefault = YieldCurveBuilder::build2(curveTree(valueDate, rows));
    EXPECT_EQ("LinearLogDf", byDefault->interpolation());
    EXPECT_EQ(tsr::YieldCurveInterpolation::LinearLogDf, byDefault->interpolationKind());
    EXPECT_EQ("TEST CURVE", byDefault->label());
    EXPECT_EQ("USD", byDefault->currency());
    EXPECT_EQ(valueDate, byDefault->valueDate());
    const YieldCurveInstruments instruments = byDefault->instruments();
    EXPECT_EQ((std::vector<std::string>{"USD SOFR SW", "USD SOFR SW"}), instruments.generators);
    EXPECT_EQ((std::vector<std::string>{"1Y", "2Y"}), instruments.tenors);
    EXPECT_EQ((std::vector<double>{3.0, 3.2}), instruments.quotes);
    EXPECT_EQ((std::vector<bool>{true, true}), instruments.inUse);

    const auto lower = YieldCurveBuilder::build2(curveTree(valueDate, rows, "linearlogdf"));
    EXPECT_EQ("linearlogdf", lower->interpolation());
    EXPECT_EQ(byDefault->rates(), lower->rates());
    const auto rates = YieldCurveBuilder::build2(curveTree(valueDate, rows, "LINEARRATES"));
    EXPECT_EQ(tsr::YieldCurveInterpolation::LinearRates, rates->interpolationKind());
    expectMessage([&] { YieldCurveBuilder::build2(curveTree(valueDate, rows, "Linear")); },
                  "unknown value");
    expectMessage([&] { YieldCurveBuilder::build2(curveTree(valueDate, rows, "")); },
                  "empty string");
    EXPECT_THROW(YieldCurve("X", valueDate, "USD", "LinearLogDfs", YieldCurveInstruments{}),
                 std::invalid_argument);
}

TEST(YieldCurveBuilder, DepositAndUnusedRowsMakeNoPillar) {
    const std::vector<Row> full = {
        {depositLabel, "1D", 4.4, true},   {"USD SOFR SW", "6M", 4.2, true},
        {"USD SOFR SW", "1Y", 9.9, false}, {depositLabel, "1W", 4.3, false},
        {"USD SOFR SW", "2Y", 3.9, true},  {"USD SOFR SW", "5Y", 3.7, true}};
    const std::vector<Row> swapsOnly = {full[1], full[4], full[5]};
    for (const std::string interpolation : {"LinearRates", "LinearLogDf"}) {
        const auto curve = YieldCurveBuilder::build2(curveTree(valueDate, full, interpolation));
        const auto reference =
            YieldCurveBuilder::build2(curveTree(valueDate, swapsOnly, interpolation));
        EXPECT_EQ(3u, curve->dates().size());
        EXPECT_EQ(reference->dates(), curve->dates());
        EXPECT_EQ(reference->rates(), curve->rates());
        EXPECT_EQ(6u, curve->instruments().generators.size());
    }
    EXPECT_EQ(3u, productsOf(curveTree(valueDate, full)).size());
    EXPECT_EQ(3u, YieldCurveBuilder::build(curveTree(valueDate, full))->dates().size());
}

TEST(YieldCurveBuilder, NoUsedInstrumentGivesACurveWithoutPillars) {
    const std::vector<Row> rows = {{"USD SOFR SW", "1Y", 3.0, false},
                                   {depositLabel, "1W", 4.3, true}};
    const auto curve = YieldCurveBuilder::build2(curveTree(valueDate, rows));
    EXPECT_TRUE(curve->dates().empty());
    EXPECT_TRUE(curve->rates().empty());
    expectMessage([&] { (void)curve->df(valueDate + boost::gregorian::days(30)); },
                  "Error, the curve has no pillars.");
    EXPECT_TRUE(YieldCurveBuilder::build(curveTree(valueDate, rows))->dates().empty());
    EXPECT_TRUE(YieldCurve("E", valueDate, "USD", "LinearRates", {}).dates().empty());
}

TEST(YieldCurveBuilder, UnusedRowsMustStillResolve) {
    const std::vector<Row> unknown = {{"USD SOFR SW", "1Y", 3.0, true},
                                      {"NO SUCH SW", "2Y", 3.0, false}};
    const std::vector<Row> badTenor = {{"USD SOFR SW", "1Y", 3.0, true},
                                       {"USD SOFR SW", "abc", 3.0, false}};
    const std::string notRegistered = "No object registered under label: NO SUCH SW";
    expectMessage([&] { YieldCurveBuilder::build2(curveTree(valueDate, unknown)); }, notRegistered);
    expectMessage([&] { YieldCurveBuilder::validate(curveTree(valueDate, unknown)); },
                  notRegistered);
    expectMessage([&] { YieldCurveBuilder::build(curveTree(valueDate, unknown)); }, notRegistered);
    EXPECT_THROW(YieldCurveBuilder::build2(curveTree(valueDate, unknown)), std::out_of_range);
    EXPECT_THROW(YieldCurveBuilder::build2(curveTree(valueDate, badTenor)), std::runtime_error);
    EXPECT_THROW(YieldCurveBuilder::validate(curveTree(valueDate, badTenor)), std::runtime_error);
}

TEST(YieldCurveBuilder, ColumnsOfDifferentLengthsAreRefused) {
    ObjectTree tree = curveTree(valueDate, {{"USD SOFR SW", "1Y", 3.0, true},
                                            {"USD SOFR SW", "2Y", 3.1, true},
                                            {"USD SOFR SW", "3Y", 3.2, true}});
    auto& inUse = tree.get_child("instruments.in use");
    inUse.pop_back();
    const std::string message = "Instruments input should be of the same size.";
    expectMessage([&] { YieldCurveBuilder::build2(tree); }, message);
    expectMessage([&] { YieldCurveBuilder::validate(tree); }, message);
    // build reads only as many rows as the shortest of the other columns.
    expectMessage([&] { YieldCurveBuilder::build(tree); }, message);

    YieldCurveInstruments instruments{{"USD SOFR SW"}, {"1Y"}, {true, true}, {3.0}};
    expectMessage([&] { YieldCurve("X", valueDate, "USD", "LinearRates", instruments); }, message);
    EXPECT_THROW(YieldCurveBuilder::construct(valueDate, {tsr::Tenor("1Y")}, {}, {3.0}, {true}),
                 std::invalid_argument);
}

TEST(YieldCurveBuilder, QuoteImplyingARateBeyondTheBracketFails) {
    // A 1Y swap at 250% needs a zero rate of about 126%.
    const std::vector<Row> rows = {{"USD SOFR SW", "1Y", 250.0, true}};
    const std::string message = "Error in function boost::math::tools::toms748_solve<double>: "
                                "Parameters a and b do not bracket the root: a=-1";
    for (const std::string interpolation : {"LinearRates", "LinearLogDf"}) {
        expectMessage([&] { YieldCurveBuilder::build2(curveTree(valueDate, rows, interpolation)); },
                      message);
    }
    expectMessage([&] { YieldCurveBuilder::build(curveTree(valueDate, rows)); }, message);
    EXPECT_THROW(YieldCurveBuilder::build2(curveTree(valueDate, rows)), std::domain_error);
}

TEST(YieldCurveBuilder, PillarsOfEqualOrDecreasingMaturityAreRefused) {
    const struct {
        std::vector<Row> rows;
        std::size_t offending;
    } cases[] = {
        {{{"USD SOFR SW", "12M", 3.0, true}, {"USD SOFR SW", "1Y", 3.0, true}}, 1},
        {{{"USD SOFR SW", "2Y", 3.0, true}, {"USD SOFR SW", "1Y", 3.0, true}}, 1},
        {{{"USD SOFR SW", "2Y", 3.0, true},
          {"USD SOFR SW", "1Y", 3.0, false},
          {"USD SOFR SW", "5Y", 3.0, true},
          {"USD SOFR SW", "3Y", 3.0, true}},
         3},
    };
    for (const auto& c : cases) {
        const ObjectTree tree = curveTree(valueDate, c.rows);
        const auto& row = c.rows[c.offending];
        const date offendingDate =
            tsr::makeCurveInstrument(
                valueDate,
                tsr::GeneratorRepository::instance().get<tsr::GeneratorSwap>(row.generator),
                tsr::Tenor(row.tenor), row.quote)
                ->lastDate();
        const std::string message =
            "Error, pillar dates must be strictly increasing: " + row.generator + " " + row.tenor +
            " (" + iso(offendingDate) + ")";
        expectMessage([&] { YieldCurveBuilder::build2(tree); }, message);
        expectMessage([&] { YieldCurveBuilder::build(tree); }, message);
        EXPECT_THROW(YieldCurveBuilder::build2(tree), std::invalid_argument);
    }
}

TEST(YieldCurveBuilder, ConstructMakesTheSpotStartingSwapOfEachRow) {
    // Value date Thursday 2026-07-02; 2026-07-03 is a US holiday, so spot is Tuesday 2026-07-07.
    const date thursday(2026, 7, 2);
    const auto details = YieldCurveBuilder::validate(curveTree(
        thursday, {{"USD SOFR SW", "1Y", 3.25, true}, {"USD SOFR SW", "2Y", 3.5, false}}));
    EXPECT_EQ(thursday, details.valueDate);
    EXPECT_EQ("TEST CURVE", details.label);
    EXPECT_EQ("USD", details.currency);
    ASSERT_EQ(2u, details.generators.size());
    EXPECT_EQ("USD SOFR SW", details.generators[0]->id());
    EXPECT_EQ("2Y", details.tenors[1].toString());
    const auto products = YieldCurveBuilder::construct(
        details.valueDate, details.tenors, details.generators, details.quotes, details.inUse);
    ASSERT_EQ(1u, products.size());
    const auto& swap = swapOf(products[0]);
    EXPECT_EQ("USD SOFR SW 1Y", swap.id());
    EXPECT_EQ(date(2026, 7, 7), swap.startDate());
    EXPECT_EQ(date(2027, 7, 7), swap.endDate());
    EXPECT_EQ(0.0325, swap.legs()[0].rate);
    EXPECT_EQ(1.0, swap.legs()[0].notional);
    EXPECT_EQ(0.0, swap.legs()[1].margin);
    EXPECT_EQ(1.0, swap.legs()[1].notional);

    // A null or deposit generator gives no product.
    const auto deposit = tsr::GeneratorRepository::instance().get<tsr::Generator>(depositLabel);
    EXPECT_TRUE(YieldCurveBuilder::construct(thursday, {tsr::Tenor("1Y"), tsr::Tenor("1Y")},
                                             {nullptr, deposit}, {3.0, 3.0}, {true, true})
                    .empty());
}

TEST(YieldCurveBuilder, BuildAndSolveAgreeWithTheLabelledConstructor) {
    const auto set = quoteSets()[2];
    const ObjectTree tree = curveTree(valueDate, rowsFor("EUR ESTR SW", set.quotes));
    const auto labelled = YieldCurveBuilder::build2(tree);
    const auto built = YieldCurveBuilder::build(tree);
    EXPECT_EQ(labelled->dates(), built->dates());
    EXPECT_EQ(labelled->rates(), built->rates());
    EXPECT_EQ("", built->label());
    EXPECT_EQ("", built->interpolation());

    const auto products = productsOf(tree);
    std::vector<date> dates;
    std::vector<double> guesses;
    for (std::size_t k = 0; k < products.size(); ++k) {
        dates.push_back(products[k]->lastDate());
        guesses.push_back(set.quotes[k] / 100.0);
    }
    auto curve = std::make_shared<YieldCurve>(valueDate, dates, guesses,
                                              tsr::YieldCurveInterpolation::LinearLogDf);
    const std::vector<double> solved = YieldCurveBuilder::solve(curve, products);
    EXPECT_EQ(labelled->rates(), solved);
    EXPECT_EQ(solved, curve->rates());
}

TEST(YieldCurveBuilder, SolveRefusesMismatchedOrForeignProducts) {
    auto curve = std::make_shared<YieldCurve>(valueDate, std::vector<date>{date(2027, 3, 18)},
                                              std::vector<double>{0.03},
                                              tsr::YieldCurveInterpolation::LinearRates);
    EXPECT_THROW(YieldCurveBuilder::solve(curve, {}), std::invalid_argument);
    const std::string unsupported = "Error: unsupported curve construction instrument.";
    expectMessage([&] { YieldCurveBuilder::solve(curve, {std::make_shared<NotASwap>()}); },
                  unsupported);
    expectMessage([&] { (void)tsr::price(curve.get(), nullptr); }, unsupported);
}

TEST(YieldCurveBuilder, PriceOfExactlyZeroAtTheUpperEndKeepsTheUpperEnd) {
    // A zero-coupon-rate swap that settled before the curve's value date is worth exactly
    // zero at any rate, so both bracket ends are roots; the pillar keeps +1.
    const auto settled = tsr::makeCurveInstrument(
        date(2020, 1, 6),
        tsr::GeneratorRepository::instance().get<tsr::GeneratorSwap>("USD SOFR SW"),
        tsr::Tenor("1Y"), 0.0);
    auto curve = std::make_shared<YieldCurve>(valueDate, std::vector<date>{date(2027, 3, 18)},
                                              std::vector<double>{0.03},
                                              tsr::YieldCurveInterpolation::LinearLogDf);
    EXPECT_EQ(2u, tsr::solvePillar(*curve, 0, settled));
    EXPECT_EQ(std::vector<double>{1.0}, curve->rates());
    EXPECT_EQ(std::vector<double>{1.0}, YieldCurveBuilder::solve(curve, {settled}));
}

// Curve instruments are cached per thread; a calendar registered since must not leave the
// schedules of the old calendar in use.
TEST(YieldCurveBuilder, ACurveBuiltAfterItsCalendarChangesUsesTheNewHolidays) {
    auto& calendars = tsr::CalendarRepository::instance();
    const ObjectTree tree = curveTree(valueDate, rowsFor("USD SOFR SW", quoteSets()[1].quotes));
    const auto before = YieldCurveBuilder::build2(tree)->dates();
    ASSERT_EQ(d("2056-03-22"), before.back());
    const auto us = std::dynamic_pointer_cast<const tsr::SingleCalendar>(calendars.get("US"));
    ASSERT_TRUE(us);
    calendars.replace(us->extended({before.back()}, us->weekend()));
    const auto after = YieldCurveBuilder::build2(tree)->dates();
    EXPECT_EQ(d("2056-03-23"), after.back());
    EXPECT_EQ(std::vector<date>(before.begin(), before.end() - 1),
              std::vector<date>(after.begin(), after.end() - 1));
}
