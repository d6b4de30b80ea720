#include "products/product_interest_rate_swap.hpp"

#include "conventions/generator_deposit.hpp"
#include "conventions/generator_repository.hpp"
#include "conventions/generator_swap.hpp"
#include "conventions/index_repository.hpp"
#include "conventions/init_defaults.hpp"
#include "conventions/ois_index.hpp"
#include "dates/calendar_repository.hpp"
#include "dates/date_arithmetic.hpp"
#include "dates/tenor.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

using tsr::date;
using tsr::Generator;
using tsr::GeneratorRepository;
using tsr::GeneratorSwap;
using tsr::ObjectTree;
using tsr::ProductInterestRateSwap;

namespace {

class DefaultsEnvironment : public ::testing::Environment {
public:
    void SetUp() override { initDefaults(); }
};

[[maybe_unused]] ::testing::Environment* const defaultsEnvironment =
    ::testing::AddGlobalTestEnvironment(new DefaultsEnvironment);

date d(const char* iso) {
    return boost::gregorian::from_simple_string(iso);
}

std::vector<date> dates(std::initializer_list<const char*> isos) {
    std::vector<date> out;
    for (const char* iso : isos) {
        out.push_back(d(iso));
    }
    return out;
}

std::shared_ptr<const Generator> builtin(const std::string& label) {
    return GeneratorRepository::instance().get<Generator>(label);
}

// Trade data for a fixed-against-floating swap.
ObjectTree swapTree(const std::string& id, date start, date end) {
    ObjectTree t;
    t.add("id", id);
    t.add("start date", start);
    t.add("end date", end);
    t.add("leg1.rate", 0.0375);
    t.add("leg1.notional", 1.0e6);
    t.add("leg2.margin", 0.0015);
    t.add("leg2.notional", 2.0e6);
    return t;
}

// Leg conventions of a test generator; defaults are those of the dollar swap.
struct LegSpec {
    bool fixed = true;
    std::string index = "SOFR";
    std::string accrualCalendar = "US";
    int payLag = 2;
    std::string roll = "backward";
    std::string frequency = "1Y";
};

ObjectTree legTree(const LegSpec& spec) {
    ObjectTree t;
    t.add("currency", std::string("USD"));
    t.add("is fixed", spec.fixed);
    t.add("is paid", spec.fixed);
    t.add("calendar", std::string("US"));
    if (!spec.fixed) {
        t.add("index", spec.index);
    }
    t.add("frequency", spec.frequency);
    t.add("day count convention", std::string("ACT/360"));
    t.add("accrual adjustment", std::string("Modified Following"));
    t.add("accrual calendar", spec.accrualCalendar);
    t.add("pay adjustment", std::string("Following"));
    t.add("pay calendar", std::string("US"));
    t.add("pay lag", spec.payLag);
    t.add("roll", spec.roll);
    return t;
}

std::shared_ptr<const GeneratorSwap> makeGenerator(const LegSpec* leg1, const LegSpec* leg2) {
    ObjectTree t;
    t.add("id", std::string("TEST SW"));
    t.add("start delay", 2);
    t.add("calendar", std::string("US"));
    if (leg1 != nullptr) {
        t.add_child("leg1", legTree(*leg1));
    }
    if (leg2 != nullptr) {
        t.add_child("leg2", legTree(*leg2));
    }
    return std::make_shared<const GeneratorSwap>(t);
}

std::shared_ptr<const GeneratorSwap> makeGenerator(const LegSpec& leg1, const LegSpec& leg2) {
    return makeGenerator(&leg1, &leg2);
}

LegSpec floating(const std::string& index = "SOFR") {
    LegSpec spec;
    spec.fixed = false;
    spec.index = index;
    return spec;
}

// Removes the first node at a path of one or two keys.
void erase(ObjectTree& tree, const std::string& path) {
    const auto dot = path.find('.');
    ObjectTree& parent = dot == std::string::npos ? tree : tree.get_child(path.substr(0, dot));
    const std::string key = dot == std::string::npos ? path : path.substr(dot + 1);
    const auto it = parent.find(key);
    ASSERT_NE(parent.not_found(), it) << path;
    parent.erase(parent.to_iterator(it));
}

template <class E>
void expectThrowWithMessage(const std::function<void()>& f, const std::string& m) {
    try {
        f();
        ADD_FAILURE() << "expected an exception with message: " << m;
    } catch (const E& e) {
        EXPECT_EQ(m, e.what());
    } catch (const std::exception& e) {
        ADD_FAILURE() << "wrong exception kind, message: " << e.what() << ", expected: " << m;
    }
}

std::vector<std::string> keys(const ObjectTree& tree) {
    std::vector<std::string> out;
    for (const auto& [key, child] : tree) {
        out.push_back(key);
    }
    return out;
}

template <class T> std::vector<T> values(const ObjectTree& array) {
    std::vector<T> out;
    for (const auto& [key, child] : array) {
        EXPECT_EQ("", key);
        out.push_back(child.template get_value<T>());
    }
    return out;
}

// USGS holidays as published for 2026 and 2027.
const std::vector<date> usgsHolidays =
    dates({"2026-01-01", "2026-01-19", "2026-02-16", "2026-05-25", "2026-06-19", "2026-07-03",
           "2026-09-07", "2026-10-12", "2026-11-11", "2026-11-26", "2026-12-25", "2027-01-01",
           "2027-01-18", "2027-02-15", "2027-03-26", "2027-05-31", "2027-06-18", "2027-07-05",
           "2027-09-06", "2027-10-11", "2027-11-11", "2027-11-25", "2027-12-24"});

// Weekdays from first through last that are not in the holiday list.
std::vector<date> weekdaysExcept(date first, date last, const std::vector<date>& holidays) {
    std::vector<date> out;
    for (date x = first; x <= last; x += boost::gregorian::days(1)) {
        const int weekday = x.day_of_week().as_number();
        if (weekday != 0 && weekday != 6 &&
            std::find(holidays.begin(), holidays.end(), x) == holidays.end()) {
            out.push_back(x);
        }
    }
    return out;
}

std::vector<date> usgsBusinessDays(date first, date last) {
    return weekdaysExcept(first, last, usgsHolidays);
}

// The dollar swap of the worked schedule example: periods start 2026-01-15 and 2026-07-15.
ProductInterestRateSwap dollarSwap() {
    return ProductInterestRateSwap(builtin("USD SOFR SW"),
                                   swapTree("SWAP 1", d("2026-01-15"), d("2027-07-15")));
}

} // namespace

TEST(ProductInterestRateSwap, BuildsBothLegsFromTheGenerator) {
    const ProductInterestRateSwap swap = dollarSwap();
    EXPECT_EQ("SWAP 1", swap.id());
    EXPECT_EQ(d("2026-01-15"), swap.startDate());
    EXPECT_EQ(d("2027-07-15"), swap.endDate());
    for (const auto& leg : swap.legs()) {
        EXPECT_EQ("USD", leg.currency);
        EXPECT_EQ(dates({"2026-01-15", "2026-07-15"}), leg.accrualStartDates);
        EXPECT_EQ(dates({"2026-07-15", "2027-07-15"}), leg.accrualEndDates);
        EXPECT_EQ(dates({"2026-07-17", "2027-07-19"}), leg.paymentDates);
        EXPECT_EQ((std::vector<double>{181.0 / 360.0, 365.0 / 360.0}), leg.dayCountFractions);
    }
    const auto& fixed = swap.legs()[0];
    EXPECT_TRUE(fixed.isFixed);
    EXPECT_TRUE(fixed.isPaid);
    EXPECT_EQ("", fixed.index);
    EXPECT_EQ(0.0375, fixed.rate);
    EXPECT_EQ(0.0, fixed.margin);
    EXPECT_EQ(1.0e6, fixed.notional);
    const auto& floatingLeg = swap.legs()[1];
    EXPECT_FALSE(floatingLeg.isFixed);
    EXPECT_FALSE(floatingLeg.isPaid);
    EXPECT_EQ("SOFR", floatingLeg.index);
    EXPECT_EQ(0.0, floatingLeg.rate);
    EXPECT_EQ(0.0015, floatingLeg.margin);
    EXPECT_EQ(2.0e6, floatingLeg.notional);
    EXPECT_EQ(d("2027-07-19"), swap.lastDate());
}

TEST(ProductInterestRateSwap, ReadsTextValuesLikeTypedOnes) {
    ObjectTree t;
    t.add("id", std::string("SWAP T"));
    t.add("start date", std::string("2026-01-15"));
    t.add("end date", std::string("2027/07/15"));
    t.add("leg1.rate", std::string("0.0375"));
    // Integers from Python arrive as long.
    t.add_child("leg1.notional", ObjectTree(std::make_shared<tsr::BoxedValue>(1000000L)));
    t.add("leg2.margin", std::string("-1e-3"));
    t.add("leg2.notional", 5);
    const ProductInterestRateSwap swap(builtin("USD SOFR SW"), t);
    EXPECT_EQ(d("2027-07-15"), swap.endDate());
    EXPECT_EQ(0.0375, swap.legs()[0].rate);
    EXPECT_EQ(1.0e6, swap.legs()[0].notional);
    EXPECT_EQ(-0.001, swap.legs()[1].margin);
    EXPECT_EQ(5.0, swap.legs()[1].notional);
    EXPECT_EQ(d("2027-07-19"), swap.lastDate());
}

TEST(ProductInterestRateSwap, EveryKeyReadIsMandatory) {
    for (const char* key : {"id", "start date", "end date", "leg1.rate", "leg1.notional",
                            "leg2.margin", "leg2.notional"}) {
        SCOPED_TRACE(key);
        ObjectTree t = swapTree("SWAP", d("2026-01-15"), d("2027-07-15"));
        erase(t, key);
        expectThrowWithMessage<std::runtime_error>(
            [&] { ProductInterestRateSwap swap(builtin("USD SOFR SW"), t); },
            std::string("No such node (") + key + ")");
    }
}

TEST(ProductInterestRateSwap, FixedMarginAndFloatingRateAreNeverRead) {
    ObjectTree t = swapTree("SWAP", d("2026-01-15"), d("2027-07-15"));
    // Values that could not be read as numbers, under the keys a swap must ignore.
    t.add("leg1.margin", std::string("not a number"));
    t.add("leg2.rate", std::string("not a number"));
    const ProductInterestRateSwap swap(builtin("USD SOFR SW"), t);
    EXPECT_EQ(0.0, swap.legs()[0].margin);
    EXPECT_EQ(0.0375, swap.legs()[0].rate);
    EXPECT_EQ(0.0, swap.legs()[1].rate);
    EXPECT_EQ(0.0015, swap.legs()[1].margin);

    // With the legs swapped round, leg 1 needs a margin and leg 2 a rate.
    const auto reversed = makeGenerator(floating(), LegSpec{});
    ObjectTree r;
    r.add("id", std::string("REV"));
    r.add("start date", d("2026-01-15"));
    r.add("end date", d("2027-01-15"));
    r.add("leg1.margin", 0.002);
    r.add("leg1.notional", 1.0);
    r.add("leg1.rate", std::string("not a number"));
    r.add("leg2.rate", 0.04);
    r.add("leg2.notional", 1.0);
    r.add("leg2.margin", std::string("not a number"));
    const ProductInterestRateSwap rev(reversed, r);
    EXPECT_EQ(0.002, rev.legs()[0].margin);
    EXPECT_EQ(0.0, rev.legs()[0].rate);
    EXPECT_EQ(0.04, rev.legs()[1].rate);
    EXPECT_EQ(0.0, rev.legs()[1].margin);
    ObjectTree noMargin = r;
    erase(noMargin, "leg1.margin");
    expectThrowWithMessage<std::runtime_error>(
        [&] { ProductInterestRateSwap swap(reversed, noMargin); }, "No such node (leg1.margin)");
}

TEST(ProductInterestRateSwap, UnreadableValuesFailWithTheConversionMessage) {
    ObjectTree t = swapTree("SWAP", d("2026-01-15"), d("2027-07-15"));
    t.get_child("leg1").put("rate", std::string("3.75%"));
    expectThrowWithMessage<std::runtime_error>(
        [&] { ProductInterestRateSwap swap(builtin("USD SOFR SW"), t); },
        "BoxedValue: cannot convert string \"3.75%\" to double");
}

TEST(ProductInterestRateSwap, OnlySwapGeneratorsMakeSwaps) {
    ObjectTree deposit;
    deposit.add("id", std::string("DEP"));
    deposit.add("currency", std::string("USD"));
    deposit.add("tenor", std::string("1D"));
    deposit.add("start delay", 0);
    deposit.add("pay adjustment", std::string("Following"));
    deposit.add("pay calendar", std::string("US"));
    deposit.add("accrual adjustment", std::string("Following"));
    deposit.add("accrual calendar", std::string("US"));
    const auto generator = std::make_shared<const tsr::GeneratorDeposit>(deposit);
    const ObjectTree t = swapTree("SWAP", d("2026-01-15"), d("2027-07-15"));
    for (const auto& g :
         {std::shared_ptr<const Generator>(generator), std::shared_ptr<const Generator>()}) {
        expectThrowWithMessage<std::runtime_error>([&] { ProductInterestRateSwap swap(g, t); },
                                                   "Error, invalid generator is passed.");
    }
    // The trade dates are read before the generator is looked at.
    ObjectTree noEnd = t;
    erase(noEnd, "end date");
    expectThrowWithMessage<std::runtime_error>(
        [&] { ProductInterestRateSwap swap(generator, noEnd); }, "No such node (end date)");
}

TEST(ProductInterestRateSwap, GeneratorWithoutALegCannotMakeASwap) {
    const LegSpec fixed;
    const LegSpec floatingSpec = floating();
    const ObjectTree t = swapTree("SWAP", d("2026-01-15"), d("2027-07-15"));
    expectThrowWithMessage<std::runtime_error>(
        [&] { ProductInterestRateSwap swap(makeGenerator(nullptr, &floatingSpec), t); },
        "Error, the generator has no leg1.");
    expectThrowWithMessage<std::runtime_error>(
        [&] { ProductInterestRateSwap swap(makeGenerator(&fixed, nullptr), t); },
        "Error, the generator has no leg2.");
    expectThrowWithMessage<std::runtime_error>(
        [&] { ProductInterestRateSwap swap(makeGenerator(nullptr, nullptr), t); },
        "Error, the generator has no leg1.");
}

TEST(ProductInterestRateSwap, ScheduleErrorsPropagate) {
    LegSpec badRoll = floating();
    badRoll.roll = "back";
    expectThrowWithMessage<std::invalid_argument>(
        [&] {
            ProductInterestRateSwap swap(makeGenerator(LegSpec{}, badRoll),
                                         swapTree("SWAP", d("2026-01-15"), d("2027-01-15")));
        },
        "unknown value");
    LegSpec badCalendar;
    badCalendar.accrualCalendar = "NOWHERE";
    expectThrowWithMessage<std::runtime_error>(
        [&] {
            ProductInterestRateSwap swap(makeGenerator(badCalendar, floating()),
                                         swapTree("SWAP", d("2026-01-15"), d("2027-01-15")));
        },
        "Calendar not found: NOWHERE");
}

TEST(ProductInterestRateSwap, LastDateOfASwapWithoutPeriodsFails) {
    const ProductInterestRateSwap swap(builtin("USD SOFR SW"),
                                       swapTree("EMPTY 7", d("2026-03-16"), d("2026-03-16")));
    EXPECT_TRUE(swap.legs()[0].paymentDates.empty());
    EXPECT_TRUE(swap.legs()[1].paymentDates.empty());
    expectThrowWithMessage<std::runtime_error>(
        [&] { (void)swap.lastDate(); },
        "Error, leg1 of swap EMPTY 7 has no periods: its start date equals its end date.");
}

TEST(ProductInterestRateSwap, LastDateIsTheLaterOfTheTwoLastPayments) {
    struct Case {
        int lag1;
        int lag2;
        const char* accrual1;
        const char* accrual2;
        const char* expected;
    };
    // The accrual end is Monday 2026-05-04, an EN holiday that rolls to 2026-05-05.
    const Case cases[] = {
        {2, 2, "US", "US", "2026-05-06"}, {5, 2, "US", "US", "2026-05-11"},
        {2, 5, "US", "US", "2026-05-11"}, {0, 1, "US", "US", "2026-05-05"},
        {1, 0, "US", "EN", "2026-05-05"}, {3, 0, "US", "EN", "2026-05-07"},
        {0, 0, "EN", "US", "2026-05-05"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.lag1) + "/" + std::to_string(c.lag2) + " " + c.accrual1 +
                     "/" + c.accrual2);
        LegSpec leg1;
        leg1.payLag = c.lag1;
        leg1.accrualCalendar = c.accrual1;
        LegSpec leg2 = floating();
        leg2.payLag = c.lag2;
        leg2.accrualCalendar = c.accrual2;
        const ProductInterestRateSwap swap(makeGenerator(leg1, leg2),
                                           swapTree("SWAP", d("2025-05-05"), d("2026-05-04")));
        EXPECT_EQ(d(c.expected), swap.lastDate());
        EXPECT_EQ(std::max(swap.legs()[0].paymentDates.back(), swap.legs()[1].paymentDates.back()),
                  swap.lastDate());
    }
}

TEST(ProductInterestRateSwap, CashFlowsDescribeTheScheduleColumnByColumn) {
    const ProductInterestRateSwap swap = dollarSwap();
    const ObjectTree flows = swap.cashFlows();
    EXPECT_EQ((std::vector<std::string>{"Leg1", "Leg2"}), keys(flows));
    const std::vector<std::string> common = {"Accrual Start Date", "Accrual End Date",
                                             "Payment Date", "Day Count Fraction"};
    for (std::size_t k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        const ObjectTree& table = flows.get_child(k == 0 ? "Leg1" : "Leg2");
        std::vector<std::string> columns = common;
        columns.push_back(k == 0 ? "Rate" : "Margin");
        columns.push_back("Notional");
        EXPECT_EQ(columns, keys(table));
        EXPECT_EQ(dates({"2026-01-15", "2026-07-15"}),
                  values<date>(table.get_child("Accrual Start Date")));
        EXPECT_EQ(dates({"2026-07-15", "2027-07-15"}),
                  values<date>(table.get_child("Accrual End Date")));
        EXPECT_EQ(dates({"2026-07-17", "2027-07-19"}),
                  values<date>(table.get_child("Payment Date")));
        EXPECT_EQ((std::vector<double>{181.0 / 360.0, 365.0 / 360.0}),
                  values<double>(table.get_child("Day Count Fraction")));
        EXPECT_EQ((std::vector<double>(2, k == 0 ? 0.0375 : 0.0015)),
                  values<double>(table.get_child(columns[4])));
        EXPECT_EQ((std::vector<double>(2, k == 0 ? 1.0e6 : 2.0e6)),
                  values<double>(table.get_child("Notional")));
    }
}

TEST(ProductInterestRateSwap, CashFlowsOfTwoFloatingLegsHaveMargins) {
    const ProductInterestRateSwap swap(makeGenerator(floating("SONIA"), floating()), [] {
        ObjectTree t;
        t.add("id", std::string("BASIS"));
        t.add("start date", d("2026-01-15"));
        t.add("end date", d("2026-07-15"));
        t.add("leg1.margin", -0.001);
        t.add("leg1.notional", 3.0);
        t.add("leg2.margin", 0.0);
        t.add("leg2.notional", 4.0);
        return t;
    }());
    const ObjectTree flows = swap.cashFlows();
    EXPECT_EQ((std::vector<double>{-0.001}), values<double>(flows.get_child("Leg1.Margin")));
    EXPECT_EQ((std::vector<double>{0.0}), values<double>(flows.get_child("Leg2.Margin")));
    EXPECT_FALSE(flows.get_child("Leg1").get_child_optional("Rate"));
    EXPECT_EQ((std::vector<double>{4.0}), values<double>(flows.get_child("Leg2.Notional")));
}

TEST(ProductInterestRateSwap, CashFlowsOfASwapWithoutPeriodsHaveEmptyColumns) {
    const ProductInterestRateSwap swap(builtin("USD SOFR SW"),
                                       swapTree("EMPTY", d("2026-03-16"), d("2026-03-16")));
    const ObjectTree flows = swap.cashFlows();
    EXPECT_EQ((std::vector<std::string>{"Accrual Start Date", "Accrual End Date", "Payment Date",
                                        "Day Count Fraction", "Rate", "Notional"}),
              keys(flows.get_child("Leg1")));
    for (const auto& [leg, table] : flows) {
        for (const auto& [column, array] : table) {
            EXPECT_TRUE(array.empty()) << leg << " " << column;
            EXPECT_FALSE(array.data()) << leg << " " << column;
        }
    }
}

struct FixingsCase {
    const char* name;
    const char* asOf;
    const char* first; // nullptr: no entry
    const char* last;
};

void PrintTo(const FixingsCase& c, std::ostream* os) {
    *os << c.name;
}

class ProductInterestRateSwapFixings : public ::testing::TestWithParam<FixingsCase> {};

TEST_P(ProductInterestRateSwapFixings, ListsTheIndexBusinessDaysOfTheRunningPeriod) {
    const FixingsCase& c = GetParam();
    const ObjectTree fixings = dollarSwap().requiredFixings(d(c.asOf));
    if (c.first == nullptr) {
        EXPECT_TRUE(fixings.empty());
        return;
    }
    EXPECT_EQ((std::vector<std::string>{"SOFR"}), keys(fixings));
    EXPECT_EQ(usgsBusinessDays(d(c.first), d(c.last)), values<date>(fixings.get_child("SOFR")));
}

INSTANTIATE_TEST_SUITE_P(
    ProductInterestRateSwap, ProductInterestRateSwapFixings,
    ::testing::Values(
        FixingsCase{"BeforeTheFirstStart", "2025-12-31", nullptr, nullptr},
        FixingsCase{"OnTheFirstStart", "2026-01-15", nullptr, nullptr},
        FixingsCase{"DayAfterTheFirstStart", "2026-01-16", "2026-01-15", "2026-01-16"},
        // 2026-01-19 is a holiday, so nothing is added for it.
        FixingsCase{"OnAHoliday", "2026-01-19", "2026-01-15", "2026-01-16"},
        FixingsCase{"OnASaturday", "2026-01-17", "2026-01-15", "2026-01-16"},
        // On an accrual start that period is not yet running: both ends are included.
        FixingsCase{"OnTheSecondStart", "2026-07-15", "2026-01-15", "2026-07-15"},
        FixingsCase{"DayAfterTheSecondStart", "2026-07-16", "2026-07-15", "2026-07-16"},
        // 2027-03-26 is a USGS holiday but a US business day: the index calendar decides.
        FixingsCase{"IndexCalendarIsUSGS", "2027-03-29", "2026-07-15", "2027-03-29"},
        FixingsCase{"OnTheEnd", "2027-07-15", "2026-07-15", "2027-07-15"},
        FixingsCase{"AfterTheLastPeriod", "2027-09-01", "2026-07-15", "2027-09-01"}),
    [](const ::testing::TestParamInfo<FixingsCase>& info) { return std::string(info.param.name); });

TEST(ProductInterestRateSwap, RequiredFixingsFollowTheUSGSHolidays) {
    const auto days = values<date>(dollarSwap().requiredFixings(d("2027-03-29")).get_child("SOFR"));
    const auto has = [&](const char* iso) {
        return std::find(days.begin(), days.end(), d(iso)) != days.end();
    };
    EXPECT_TRUE(has("2027-03-25"));
    EXPECT_FALSE(has("2027-03-26"));
    EXPECT_TRUE(has("2027-03-29"));
    EXPECT_FALSE(has("2026-11-26"));
    EXPECT_EQ(d("2026-07-15"), days.front());
    EXPECT_EQ(d("2027-03-29"), days.back());
    // Beyond the end of the swap the dates go on through the given day.
    const auto late = values<date>(dollarSwap().requiredFixings(d("2027-09-01")).get_child("SOFR"));
    EXPECT_EQ(d("2027-09-01"), late.back());
    EXPECT_TRUE(std::find(late.begin(), late.end(), d("2027-07-16")) != late.end());
    EXPECT_TRUE(std::find(late.begin(), late.end(), d("2027-07-05")) == late.end());
}

TEST(ProductInterestRateSwap, RequiredFixingsOfTwoFloatingLegsListLegOneFirst) {
    const ProductInterestRateSwap swap(makeGenerator(floating("SONIA"), floating("SOFR")), [] {
        ObjectTree t = swapTree("BASIS", d("2026-01-15"), d("2027-01-15"));
        t.add("leg1.margin", 0.0);
        return t;
    }());
    // 2026-04-03 and 2026-04-06 are EN holidays; 2026-04-03 is not a USGS one.
    const ObjectTree fixings = swap.requiredFixings(d("2026-04-07"));
    EXPECT_EQ((std::vector<std::string>{"SONIA", "SOFR"}), keys(fixings));
    const auto sonia = values<date>(fixings.get_child("SONIA"));
    const auto sofr = values<date>(fixings.get_child("SOFR"));
    EXPECT_EQ(usgsBusinessDays(d("2026-01-15"), d("2026-04-07")), sofr);
    EXPECT_EQ(weekdaysExcept(d("2026-01-15"), d("2026-04-07"), dates({"2026-04-03", "2026-04-06"})),
              sonia);
    // Before the first start neither leg has an entry.
    EXPECT_TRUE(swap.requiredFixings(d("2026-01-15")).empty());

    // The same index on both legs gives two entries under one key.
    const ProductInterestRateSwap same(makeGenerator(floating(), floating()), [] {
        ObjectTree t = swapTree("SAME", d("2026-01-15"), d("2027-01-15"));
        t.add("leg1.margin", 0.0);
        return t;
    }());
    EXPECT_EQ((std::vector<std::string>{"SOFR", "SOFR"}),
              keys(same.requiredFixings(d("2026-02-02"))));
}

TEST(ProductInterestRateSwap, RequiredFixingsOfTwoFixedLegsAreEmpty) {
    const ProductInterestRateSwap swap(makeGenerator(LegSpec{}, LegSpec{}), [] {
        ObjectTree t = swapTree("FIXED", d("2026-01-15"), d("2027-01-15"));
        t.add("leg2.rate", 0.01);
        return t;
    }());
    EXPECT_TRUE(swap.requiredFixings(d("2026-06-01")).empty());
}

TEST(ProductInterestRateSwap, RequiredFixingsUseTheIndexRepository) {
    auto& indices = tsr::IndexRepository::instance();
    // The entry is keyed by the index's own name, not by the label it is registered under.
    indices.add("SOFR ALIAS", indices.get<tsr::Index>("SOFR"));
    indices.add("NOCAL", std::make_shared<tsr::OisIndex>([] {
                    ObjectTree t;
                    t.add("id", std::string("NOCAL"));
                    t.add("calendar", std::string("NOWHERE"));
                    t.add("day count", std::string("Act/360"));
                    return t;
                }()));
    class PlainIndex : public tsr::Index {
    public:
        using Index::Index;
    };
    indices.add("PLAIN", std::make_shared<PlainIndex>("PLAIN"));

    const auto swapOn = [](const std::string& index) {
        // Building the swap does not look the index up.
        return ProductInterestRateSwap(makeGenerator(LegSpec{}, floating(index)),
                                       swapTree("SWAP", d("2026-01-15"), d("2027-01-15")));
    };
    EXPECT_EQ((std::vector<std::string>{"SOFR"}),
              keys(swapOn("SOFR ALIAS").requiredFixings(d("2026-01-20"))));

    const ProductInterestRateSwap unknown = swapOn("NOPE");
    EXPECT_TRUE(unknown.requiredFixings(d("2026-01-15")).empty());
    expectThrowWithMessage<std::out_of_range>([&] { unknown.requiredFixings(d("2026-01-16")); },
                                              "No object registered under label: NOPE");
    const ProductInterestRateSwap sofrLower = swapOn("sofr");
    expectThrowWithMessage<std::out_of_range>([&] { sofrLower.requiredFixings(d("2026-01-16")); },
                                              "No object registered under label: sofr");
    const ProductInterestRateSwap noCalendar = swapOn("NOCAL");
    expectThrowWithMessage<std::runtime_error>([&] { noCalendar.requiredFixings(d("2026-01-16")); },
                                               "Calendar not found: NOWHERE");
    const ProductInterestRateSwap plain = swapOn("PLAIN");
    EXPECT_THROW(plain.requiredFixings(d("2026-01-16")), std::bad_cast);
}

// Every built-in generator, every usual tenor, value dates spread over 2026 to 2030: the swap
// builds, and each leg's schedule is sound.
TEST(ProductInterestRateSwap, BuiltInGeneratorsBuildSoundSchedules) {
    const char* const generators[] = {"USD SOFR SW", "SGD SORA SW",  "GBP SONIA SW",
                                      "EUR ESTR SW", "CHF SARON SW", "JPY TONA SW"};
    const char* const tenors[] = {"1W", "2W", "1M", "3M", "6M",  "9M",  "1Y",  "18M",
                                  "2Y", "3Y", "5Y", "7Y", "10Y", "15Y", "20Y", "30Y"};
    auto& calendars = tsr::CalendarRepository::instance();
    int failures = 0;
    std::size_t swaps = 0;
    const auto check = [&](bool ok, const std::string& what) {
        if (!ok && failures++ < 20) {
            ADD_FAILURE() << what;
        }
        return ok;
    };
    const auto iso = [](date x) { return boost::gregorian::to_iso_extended_string(x); };

    for (const char* label : generators) {
        const auto generator = std::dynamic_pointer_cast<const GeneratorSwap>(builtin(label));
        ASSERT_TRUE(generator) << label;
        const auto spotCalendar = calendars.get(generator->calendar());
        for (date valueDate = d("2026-01-01"); valueDate <= d("2030-12-31");
             valueDate += boost::gregorian::days(13)) {
            const date start =
                tsr::addBusinessDays(valueDate, generator->startDelay(), spotCalendar);
            for (const char* tenorText : tenors) {
                const tsr::Tenor tenor{std::string(tenorText)};
                const date end = tsr::addTenor(start, tenor);
                const std::string where = std::string(label) + " " + tenorText + " from " +
                                          iso(valueDate) + " (" + iso(start) + " to " + iso(end) +
                                          ")";
                std::unique_ptr<ProductInterestRateSwap> swap;
                try {
                    swap = std::make_unique<ProductInterestRateSwap>(generator,
                                                                     swapTree("SWAP", start, end));
                } catch (const std::exception& e) {
                    check(false, where + ": " + e.what());
                    continue;
                }
                ++swaps;
                date lastPayment;
                for (std::size_t k = 0; k < 2; ++k) {
                    const auto& convention = *generator->legs()[k];
                    const auto& leg = swap->legs()[k];
                    const std::string w = where + " leg" + std::to_string(k + 1);
                    const std::size_t n = leg.accrualStartDates.size();
                    if (!check(n > 0 && leg.accrualEndDates.size() == n &&
                                   leg.paymentDates.size() == n &&
                                   leg.dayCountFractions.size() == n,
                               w + ": vectors of unequal or zero length")) {
                        continue;
                    }
                    // Backward rolling: a stub only when the frequency does not divide the tenor.
                    const tsr::Tenor frequency{convention.frequency()};
                    const int frequencyMonths =
                        frequency.amount() * (frequency.unit() == tsr::Tenor::Unit::Years ? 12 : 1);
                    int expectedPeriods = 1;
                    if (tenor.unit() != tsr::Tenor::Unit::Weeks) {
                        const int months =
                            tenor.amount() * (tenor.unit() == tsr::Tenor::Unit::Years ? 12 : 1);
                        expectedPeriods = (months + frequencyMonths - 1) / frequencyMonths;
                    }
                    check(static_cast<int>(n) == expectedPeriods,
                          w + ": " + std::to_string(n) + " periods, expected " +
                              std::to_string(expectedPeriods));

                    const auto accrualCalendar = calendars.get(convention.accrualCalendar());
                    const auto payCalendar = calendars.get(convention.payCalendar());
                    const tsr::BusinessDay modifiedFollowing = tsr::BusinessDay::ModifiedFollowing;
                    check(leg.accrualStartDates.front() ==
                              tsr::adjustDate(start, modifiedFollowing, accrualCalendar),
                          w + ": first accrual start " + iso(leg.accrualStartDates.front()));
                    check(leg.accrualEndDates.back() ==
                              tsr::adjustDate(end, modifiedFollowing, accrualCalendar),
                          w + ": last accrual end " + iso(leg.accrualEndDates.back()));
                    const double basis =
                        convention.dayCountConvention() == "ACT/360" ? 360.0 : 365.0;
                    for (std::size_t i = 0; i < n; ++i) {
                        const date s = leg.accrualStartDates[i];
                        const date e = leg.accrualEndDates[i];
                        const date p = leg.paymentDates[i];
                        const std::string wi = w + " period " + std::to_string(i) + " " + iso(s) +
                                               ".." + iso(e) + " paid " + iso(p);
                        check(s < e, wi + ": not ascending");
                        if (i + 1 < n) {
                            check(e == leg.accrualStartDates[i + 1], wi + ": gap to next period");
                        }
                        check(accrualCalendar->isBusinessDay(s) &&
                                  accrualCalendar->isBusinessDay(e),
                              wi + ": accrual date on a holiday");
                        check(payCalendar->isBusinessDay(p), wi + ": payment on a holiday");
                        // Exactly pay-lag business days after the accrual end.
                        int businessDays = 0;
                        for (date x = e + boost::gregorian::days(1); x <= p;
                             x += boost::gregorian::days(1)) {
                            businessDays += payCalendar->isBusinessDay(x) ? 1 : 0;
                        }
                        check(p >= e && businessDays == convention.payLag(),
                              wi + ": " + std::to_string(businessDays) + " business days to pay");
                        check(leg.dayCountFractions[i] == (e - s).days() / basis,
                              wi + ": fraction " + std::to_string(leg.dayCountFractions[i]));
                    }
                    if (lastPayment.is_special() || leg.paymentDates.back() > lastPayment) {
                        lastPayment = leg.paymentDates.back();
                    }
                }
                check(swap->lastDate() == lastPayment,
                      where + ": lastDate " + iso(swap->lastDate()));
            }
        }
    }
    EXPECT_EQ(0, failures);
    EXPECT_GT(swaps, 13000u);
}
