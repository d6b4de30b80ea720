#include "products/product_interest_rate_swap.hpp"

#include "conventions/generator_deposit.hpp"
#include "conventions/generator_repository.hpp"
#include "conventions/generator_swap.hpp"
#include "conventions/index_repository.hpp"
#include "conventions/ois_index.hpp"
#include "dates/calendar_repository.hpp"
#include "dates/date_arithmetic.hpp"
#include "dates/tenor.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace tsr::test;
using tsr::date;
using tsr::Generator;
using tsr::GeneratorSwap;
using tsr::ObjectTree;
using tsr::ProductInterestRateSwap;

namespace {

[[maybe_unused]] ::testing::Environment* const defaultsEnvironment = useDefaults();

std::shared_ptr<const Generator> builtin(const std::string& label) {
    return tsr::GeneratorRepository::instance().get<Generator>(label);
}

// Trade data for a fixed-against-floating swap.
ObjectTree trade(const std::string& id, date start, date end) {
    return swapTree(id, start, end, 0.0375, 0.0015, 1.0e6, 2.0e6);
}

std::shared_ptr<const GeneratorSwap> makeGenerator(const LegConventions* leg1,
                                                   const LegConventions* leg2) {
    return std::make_shared<const GeneratorSwap>(swapGeneratorTree("TEST SW", leg1, leg2));
}

std::shared_ptr<const GeneratorSwap> makeGenerator(const LegConventions& leg1,
                                                   const LegConventions& leg2) {
    return makeGenerator(&leg1, &leg2);
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

// USGS holidays as published for 2026 and 2027.
std::vector<date> usgsBusinessDays(date first, date last) {
    return weekdaysExcept(
        first, last,
        dates({"2026-01-01", "2026-01-19", "2026-02-16", "2026-05-25", "2026-06-19", "2026-07-03",
               "2026-09-07", "2026-10-12", "2026-11-11", "2026-11-26", "2026-12-25", "2027-01-01",
               "2027-01-18", "2027-02-15", "2027-03-26", "2027-05-31", "2027-06-18", "2027-07-05",
               "2027-09-06", "2027-10-11", "2027-11-11", "2027-11-25", "2027-12-24"}));
}

// The dollar swap of the worked schedule example: periods start 2026-01-15 and 2026-07-15.
ProductInterestRateSwap dollarSwap() {
    return ProductInterestRateSwap(builtin("USD SOFR SW"),
                                   trade("SWAP 1", d("2026-01-15"), d("2027-07-15")));
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
    EXPECT_TRUE(fixed.isFixed && fixed.isPaid);
    EXPECT_EQ("", fixed.index);
    EXPECT_EQ((std::vector<double>{0.0375, 0.0, 1.0e6}),
              (std::vector<double>{fixed.rate, fixed.margin, fixed.notional}));
    const auto& floating = swap.legs()[1];
    EXPECT_FALSE(floating.isFixed || floating.isPaid);
    EXPECT_EQ("SOFR", floating.index);
    EXPECT_EQ((std::vector<double>{0.0, 0.0015, 2.0e6}),
              (std::vector<double>{floating.rate, floating.margin, floating.notional}));
    EXPECT_EQ(d("2027-07-19"), swap.lastDate());

    // Text values read like typed ones; integers from Python arrive as long.
    ObjectTree t;
    t.add("id", std::string("SWAP T"));
    t.add("start date", std::string("2026-01-15"));
    t.add("end date", std::string("2027/07/15"));
    t.add("leg1.rate", std::string("0.0375"));
    t.add_child("leg1.notional", ObjectTree(std::make_shared<tsr::BoxedValue>(1000000L)));
    t.add("leg2.margin", std::string("-1e-3"));
    t.add("leg2.notional", 5);
    const ProductInterestRateSwap text(builtin("USD SOFR SW"), t);
    EXPECT_EQ(d("2027-07-15"), text.endDate());
    EXPECT_EQ((std::vector<double>{0.0375, 1.0e6, -0.001, 5.0}),
              (std::vector<double>{text.legs()[0].rate, text.legs()[0].notional,
                                   text.legs()[1].margin, text.legs()[1].notional}));
}

TEST(ProductInterestRateSwap, FixedMarginAndFloatingRateAreNeverRead) {
    ObjectTree t = trade("SWAP", d("2026-01-15"), d("2027-07-15"));
    // Values that could not be read as numbers, under the keys a swap must ignore.
    t.add("leg1.margin", std::string("not a number"));
    t.add("leg2.rate", std::string("not a number"));
    const ProductInterestRateSwap swap(builtin("USD SOFR SW"), t);
    EXPECT_EQ(0.0, swap.legs()[0].margin);
    EXPECT_EQ(0.0375, swap.legs()[0].rate);
    EXPECT_EQ(0.0, swap.legs()[1].rate);
    EXPECT_EQ(0.0015, swap.legs()[1].margin);

    // With the legs swapped round, leg 1 needs a margin and leg 2 a rate.
    const auto reversed = makeGenerator(floatingLeg(), LegConventions{});
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
    erase(r, "leg1.margin");
    expectThrowWithMessage<std::runtime_error>([&] { ProductInterestRateSwap swap(reversed, r); },
                                               "No such node (leg1.margin)");
}

TEST(ProductInterestRateSwap, BadInputFailsWithItsMessage) {
    const auto usd = builtin("USD SOFR SW");
    for (const char* key : {"id", "start date", "end date", "leg1.rate", "leg1.notional",
                            "leg2.margin", "leg2.notional"}) {
        ObjectTree t = trade("SWAP", d("2026-01-15"), d("2027-07-15"));
        erase(t, key);
        expectThrowWithMessage<std::runtime_error>([&] { ProductInterestRateSwap swap(usd, t); },
                                                   std::string("No such node (") + key + ")");
    }
    ObjectTree t = trade("SWAP", d("2026-01-15"), d("2027-07-15"));
    t.get_child("leg1").put("rate", std::string("3.75%"));
    expectThrowWithMessage<std::runtime_error>(
        [&] { ProductInterestRateSwap swap(usd, t); },
        "BoxedValue: cannot convert string \"3.75%\" to double");

    // Only swap generators with both legs make swaps.
    const auto deposit = std::make_shared<const tsr::GeneratorDeposit>(depositGeneratorTree("DEP"));
    const ObjectTree good = trade("SWAP", d("2026-01-15"), d("2027-07-15"));
    for (const auto& g :
         {std::shared_ptr<const Generator>(deposit), std::shared_ptr<const Generator>()}) {
        expectThrowWithMessage<std::runtime_error>([&] { ProductInterestRateSwap swap(g, good); },
                                                   "Error, invalid generator is passed.");
    }
    // The trade dates are read before the generator is looked at.
    ObjectTree noEnd = good;
    erase(noEnd, "end date");
    expectThrowWithMessage<std::runtime_error>(
        [&] { ProductInterestRateSwap swap(deposit, noEnd); }, "No such node (end date)");
    const LegConventions fixed;
    const LegConventions floating = floatingLeg();
    const struct {
        const LegConventions* leg1;
        const LegConventions* leg2;
        const char* message;
    } missing[] = {{nullptr, &floating, "Error, the generator has no leg1."},
                   {&fixed, nullptr, "Error, the generator has no leg2."},
                   {nullptr, nullptr, "Error, the generator has no leg1."}};
    for (const auto& c : missing) {
        expectThrowWithMessage<std::runtime_error>(
            [&] { ProductInterestRateSwap swap(makeGenerator(c.leg1, c.leg2), good); }, c.message);
    }

    // Schedule errors propagate.
    LegConventions badRoll = floatingLeg();
    badRoll.roll = "back";
    expectThrowWithMessage<std::invalid_argument>(
        [&] { ProductInterestRateSwap swap(makeGenerator(fixed, badRoll), good); },
        "unknown value");
    LegConventions badCalendar;
    badCalendar.accrualCalendar = "NOWHERE";
    expectThrowWithMessage<std::runtime_error>(
        [&] { ProductInterestRateSwap swap(makeGenerator(badCalendar, floating), good); },
        "Calendar not found: NOWHERE");

    // A swap without periods builds, but has no last date and empty cash flow columns.
    const ProductInterestRateSwap empty(usd, trade("EMPTY 7", d("2026-03-16"), d("2026-03-16")));
    EXPECT_TRUE(empty.legs()[0].paymentDates.empty());
    EXPECT_TRUE(empty.legs()[1].paymentDates.empty());
    expectThrowWithMessage<std::runtime_error>(
        [&] { (void)empty.lastDate(); },
        "Error, leg1 of swap EMPTY 7 has no periods: its start date equals its end date.");
    const ObjectTree flows = empty.cashFlows();
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

TEST(ProductInterestRateSwap, LastDateIsTheLaterOfTheTwoLastPayments) {
    const struct {
        int lag1;
        int lag2;
        const char* accrual1;
        const char* accrual2;
        const char* expected;
    } cases[] = {
        // The accrual end is Monday 2026-05-04, an EN holiday that rolls to 2026-05-05.
        {2, 2, "US", "US", "2026-05-06"}, {5, 2, "US", "US", "2026-05-11"},
        {2, 5, "US", "US", "2026-05-11"}, {0, 1, "US", "US", "2026-05-05"},
        {1, 0, "US", "EN", "2026-05-05"}, {3, 0, "US", "EN", "2026-05-07"},
        {0, 0, "EN", "US", "2026-05-05"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.lag1) + "/" + std::to_string(c.lag2) + " " + c.accrual1 +
                     "/" + c.accrual2);
        LegConventions leg1;
        leg1.payLag = c.lag1;
        leg1.accrualCalendar = c.accrual1;
        LegConventions leg2 = floatingLeg();
        leg2.payLag = c.lag2;
        leg2.accrualCalendar = c.accrual2;
        const ProductInterestRateSwap swap(makeGenerator(leg1, leg2),
                                           trade("SWAP", d("2025-05-05"), d("2026-05-04")));
        EXPECT_EQ(d(c.expected), swap.lastDate());
    }
}

TEST(ProductInterestRateSwap, CashFlowsDescribeTheScheduleColumnByColumn) {
    const ObjectTree flows = dollarSwap().cashFlows();
    EXPECT_EQ((std::vector<std::string>{"Leg1", "Leg2"}), keys(flows));
    for (std::size_t k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        const ObjectTree& table = flows.get_child(k == 0 ? "Leg1" : "Leg2");
        const std::string own = k == 0 ? "Rate" : "Margin";
        EXPECT_EQ((std::vector<std::string>{"Accrual Start Date", "Accrual End Date",
                                            "Payment Date", "Day Count Fraction", own, "Notional"}),
                  keys(table));
        EXPECT_EQ(dates({"2026-01-15", "2026-07-15"}),
                  values<date>(table.get_child("Accrual Start Date")));
        EXPECT_EQ(dates({"2026-07-15", "2027-07-15"}),
                  values<date>(table.get_child("Accrual End Date")));
        EXPECT_EQ(dates({"2026-07-17", "2027-07-19"}),
                  values<date>(table.get_child("Payment Date")));
        EXPECT_EQ((std::vector<double>{181.0 / 360.0, 365.0 / 360.0}),
                  values<double>(table.get_child("Day Count Fraction")));
        EXPECT_EQ((std::vector<double>(2, k == 0 ? 0.0375 : 0.0015)),
                  values<double>(table.get_child(own)));
        EXPECT_EQ((std::vector<double>(2, k == 0 ? 1.0e6 : 2.0e6)),
                  values<double>(table.get_child("Notional")));
    }
    // Two floating legs both show margins.
    ObjectTree t = swapTree("BASIS", d("2026-01-15"), d("2026-07-15"), 0.0, 0.0, 3.0, 4.0);
    erase(t, "leg1.rate");
    t.add("leg1.margin", -0.001);
    const ObjectTree basis =
        ProductInterestRateSwap(makeGenerator(floatingLeg("SONIA"), floatingLeg()), t).cashFlows();
    EXPECT_EQ((std::vector<double>{-0.001}), values<double>(basis.get_child("Leg1.Margin")));
    EXPECT_EQ((std::vector<double>{0.0}), values<double>(basis.get_child("Leg2.Margin")));
    EXPECT_FALSE(basis.get_child("Leg1").get_child_optional("Rate"));
    EXPECT_EQ((std::vector<double>{4.0}), values<double>(basis.get_child("Leg2.Notional")));
}

TEST(ProductInterestRateSwap, RequiredFixingsListTheIndexBusinessDaysOfTheRunningPeriod) {
    const struct {
        const char* asOf;
        const char* first; // nullptr: no entry
        const char* last;
    } cases[] = {
        {"2025-12-31", nullptr, nullptr},
        {"2026-01-15", nullptr, nullptr},
        {"2026-01-16", "2026-01-15", "2026-01-16"},
        // 2026-01-19 is a holiday, so nothing is added for it.
        {"2026-01-19", "2026-01-15", "2026-01-16"},
        {"2026-01-17", "2026-01-15", "2026-01-16"},
        // On an accrual start that period is not yet running: both ends are included.
        {"2026-07-15", "2026-01-15", "2026-07-15"},
        {"2026-07-16", "2026-07-15", "2026-07-16"},
        // 2027-03-26 is a USGS holiday but a US business day: the index calendar decides.
        {"2027-03-29", "2026-07-15", "2027-03-29"},
        {"2027-07-15", "2026-07-15", "2027-07-15"},
        // Beyond the end of the swap the dates go on through the given day.
        {"2027-09-01", "2026-07-15", "2027-09-01"},
    };
    for (const auto& c : cases) {
        const ObjectTree fixings = dollarSwap().requiredFixings(d(c.asOf));
        if (c.first == nullptr) {
            EXPECT_TRUE(fixings.empty()) << c.asOf;
            continue;
        }
        EXPECT_EQ((std::vector<std::string>{"SOFR"}), keys(fixings)) << c.asOf;
        EXPECT_EQ(usgsBusinessDays(d(c.first), d(c.last)), values<date>(fixings.get_child("SOFR")))
            << c.asOf;
    }
}

TEST(ProductInterestRateSwap, RequiredFixingsOfEachFloatingLegInLegOrder) {
    ObjectTree t = trade("BASIS", d("2026-01-15"), d("2027-01-15"));
    t.add("leg1.margin", 0.0);
    const ProductInterestRateSwap swap(makeGenerator(floatingLeg("SONIA"), floatingLeg()), t);
    // 2026-04-03 and 2026-04-06 are EN holidays; 2026-04-03 is not a USGS one.
    const ObjectTree fixings = swap.requiredFixings(d("2026-04-07"));
    EXPECT_EQ((std::vector<std::string>{"SONIA", "SOFR"}), keys(fixings));
    EXPECT_EQ(usgsBusinessDays(d("2026-01-15"), d("2026-04-07")),
              values<date>(fixings.get_child("SOFR")));
    EXPECT_EQ(weekdaysExcept(d("2026-01-15"), d("2026-04-07"), dates({"2026-04-03", "2026-04-06"})),
              values<date>(fixings.get_child("SONIA")));
    EXPECT_TRUE(swap.requiredFixings(d("2026-01-15")).empty());

    // The same index on both legs gives two entries under one key.
    const ProductInterestRateSwap same(makeGenerator(floatingLeg(), floatingLeg()), t);
    EXPECT_EQ((std::vector<std::string>{"SOFR", "SOFR"}),
              keys(same.requiredFixings(d("2026-02-02"))));
    // Two fixed legs need none.
    t.add("leg2.rate", 0.01);
    const ProductInterestRateSwap fixed(makeGenerator(LegConventions{}, LegConventions{}), t);
    EXPECT_TRUE(fixed.requiredFixings(d("2026-06-01")).empty());
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
        return ProductInterestRateSwap(makeGenerator(LegConventions{}, floatingLeg(index)),
                                       trade("SWAP", d("2026-01-15"), d("2027-01-15")));
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
    const auto months = [](const tsr::Tenor& t) {
        return t.amount() * (t.unit() == tsr::Tenor::Unit::Years ? 12 : 1);
    };
    for (const char* label : {"USD SOFR SW", "SGD SORA SW", "GBP SONIA SW", "EUR ESTR SW",
                              "CHF SARON SW", "JPY TONA SW"}) {
        const auto generator = std::dynamic_pointer_cast<const GeneratorSwap>(builtin(label));
        ASSERT_TRUE(generator) << label;
        const auto spotCalendar = calendars.get(generator->calendar());
        for (date valueDate = d("2026-01-01"); valueDate <= d("2030-12-31");
             valueDate += boost::gregorian::days(29)) {
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
                                                                     trade("SWAP", start, end));
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
                    const int frequencyMonths = months(tsr::Tenor{convention.frequency()});
                    const int expectedPeriods =
                        tenor.unit() == tsr::Tenor::Unit::Weeks
                            ? 1
                            : (months(tenor) + frequencyMonths - 1) / frequencyMonths;
                    check(static_cast<int>(n) == expectedPeriods,
                          w + ": " + std::to_string(n) + " periods, expected " +
                              std::to_string(expectedPeriods));
                    const auto accrualCalendar = calendars.get(convention.accrualCalendar());
                    const auto payCalendar = calendars.get(convention.payCalendar());
                    const auto mf = tsr::BusinessDay::ModifiedFollowing;
                    check(leg.accrualStartDates.front() ==
                              tsr::adjustDate(start, mf, accrualCalendar),
                          w + ": first accrual start " + iso(leg.accrualStartDates.front()));
                    check(leg.accrualEndDates.back() == tsr::adjustDate(end, mf, accrualCalendar),
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
                        check(i + 1 == n || e == leg.accrualStartDates[i + 1],
                              wi + ": gap to next period");
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
    EXPECT_EQ(6048u, swaps);
}
