#include "dates/date_arithmetic.hpp"
#include "test_support.hpp"

#include "dates/single_calendar.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

using namespace tsr::test;

using tsr::BusinessDay;
using tsr::date;
using tsr::Tenor;

namespace {

// Counts heap allocations while armed, to show the business-day walks allocate nothing.
bool countAllocations = false;
int allocations = 0;

} // namespace

void* operator new(std::size_t size) {
    if (countAllocations) {
        ++allocations;
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

// GCC sees the malloc inside the replaced operator new once it inlines both
// and warns of a mismatch that is not there.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace {

// Saturday and Sunday weekend, no holidays.
std::shared_ptr<const tsr::Calendar> weekendsOnly() {
    return std::make_shared<tsr::SingleCalendar>("weekends", tsr::saturdaySundayWeekend,
                                                 std::vector<date>{}, std::vector<date>{});
}

// Counts its queries, to show when the calendar is not consulted.
class CountingCalendar : public tsr::Calendar {
public:
    CountingCalendar() : tsr::Calendar("counting") {}
    bool isBusinessDay(const date& day) const override {
        ++queries;
        return day.day_of_week() != boost::date_time::Saturday &&
               day.day_of_week() != boost::date_time::Sunday;
    }
    mutable int queries = 0;
};

} // namespace

TEST(DateArithmetic, MovesByTenorsClampingTheDayOfMonth) {
    const struct {
        const char* start;
        const char* tenor;
        bool add;
        const char* expected;
    } cases[] = {
        {"2026-01-31", "1M", true, "2026-02-28"},   {"2028-01-31", "1M", true, "2028-02-29"},
        {"2026-02-28", "1M", true, "2026-03-28"},   {"2026-11-15", "3M", true, "2027-02-15"},
        {"2026-03-15", "3M", false, "2025-12-15"},  {"2026-03-15", "15M", false, "2024-12-15"},
        {"2026-01-15", "12M", false, "2025-01-15"}, {"2026-12-15", "1M", true, "2027-01-15"},
        {"2026-01-15", "1M", false, "2025-12-15"},  {"2026-03-31", "1M", false, "2026-02-28"},
        {"2026-05-31", "1M", true, "2026-06-30"},   {"2026-01-31", "25M", true, "2028-02-29"},
        {"2028-02-29", "1Y", true, "2029-02-28"},   {"2028-02-29", "1Y", false, "2027-02-28"},
        {"2028-02-29", "4Y", true, "2032-02-29"},   {"2028-02-29", "100Y", true, "2128-02-29"},
        {"2028-02-29", "72Y", true, "2100-02-28"},  {"2026-06-30", "10Y", true, "2036-06-30"},
        {"2026-06-15", "2W", true, "2026-06-29"},   {"2026-06-15", "2W", false, "2026-06-01"},
        {"2026-12-30", "3D", true, "2027-01-02"},   {"2028-03-01", "1D", false, "2028-02-29"},
        {"2026-06-15", "0M", true, "2026-06-15"},   {"2026-06-15", "0D", false, "2026-06-15"},
        {"2026-06-15", "0Y", true, "2026-06-15"},   {"2026-06-15", "0W", true, "2026-06-15"},
    };
    for (const auto& c : cases) {
        const Tenor tenor(c.tenor);
        EXPECT_EQ(d(c.expected),
                  c.add ? tsr::addTenor(d(c.start), tenor) : tsr::subtractTenor(d(c.start), tenor))
            << c.start << (c.add ? " + " : " - ") << c.tenor;
    }
}

TEST(DateArithmetic, BusinessDayAndUnknownUnitsAreRejected) {
    const date day = d("2026-06-15");
    EXPECT_EQ("Error, addTenor is called with invalid arguments.",
              messageOf([&] { tsr::addTenor(day, Tenor("2BD")); }));
    EXPECT_EQ("Error, subtractTenor is called with invalid arguments.",
              messageOf([&] { tsr::subtractTenor(day, Tenor("2BD")); }));
    const Tenor zero(static_cast<Tenor::Unit>(0), 1);
    EXPECT_EQ("Error, addTenor is called with invalid arguments.",
              messageOf([&] { tsr::addTenor(day, zero); }));
    const Tenor six(static_cast<Tenor::Unit>(6), 1);
    EXPECT_EQ("Programming Error, addTenor.", messageOf([&] { tsr::addTenor(day, six); }));
    EXPECT_THROW(tsr::subtractTenor(day, six), std::runtime_error);
}

TEST(DateArithmetic, StepsOutsideTheDateRangeRaiseTheDateLibraryError) {
    const struct {
        const char* start;
        const char* tenor;
        bool add;
    } cases[] = {
        {"9999-12-15", "1M", true},
        {"1400-01-15", "1M", false},
        {"9999-06-15", "1Y", true},
        {"1400-06-15", "1Y", false},
        {"9999-12-31", "1D", true},
        {"1400-01-01", "1W", false},
        {"2026-06-15", "2147483647M", true},
        {"2026-06-15", "2147483647Y", false},
        // Far enough to wrap the library's 32-bit day number back into the valid years.
        {"2026-06-15", "2000000000D", true},
        {"2026-06-15", "613566757W", true},
        {"2026-06-15", "70000Y", true},
    };
    for (const auto& c : cases) {
        const Tenor tenor(c.tenor);
        EXPECT_THROW(c.add ? tsr::addTenor(d(c.start), tenor)
                           : tsr::subtractTenor(d(c.start), tenor),
                     boost::gregorian::bad_year)
            << c.start << (c.add ? " + " : " - ") << c.tenor;
    }
    EXPECT_EQ(d("9999-12-31"), tsr::addTenor(d("9999-11-30"), Tenor("31D")));
    EXPECT_EQ(d("1400-01-01"), tsr::subtractTenor(d("1401-01-01"), Tenor("1Y")));
}

TEST(DateArithmetic, DayAndWeekStepsLeaveSpecialValuesUnchanged) {
    for (const auto special : {boost::date_time::pos_infin, boost::date_time::neg_infin,
                               boost::date_time::not_a_date_time}) {
        const date day(special);
        EXPECT_EQ(day, tsr::addTenor(day, Tenor("3D")));
        EXPECT_EQ(day, tsr::subtractTenor(day, Tenor("2W")));
        EXPECT_THROW(tsr::addTenor(day, Tenor("1M")), std::out_of_range);
        EXPECT_THROW(tsr::subtractTenor(day, Tenor("1Y")), std::out_of_range);
    }
}

TEST(DateArithmetic, WalksOverWeekendsCountingBusinessDays) {
    // 2026-06-12 is a Friday.
    const struct {
        const char* start;
        int count;
        bool add;
        const char* expected;
    } cases[] = {
        {"2026-06-12", 1, true, "2026-06-15"},  {"2026-06-13", 1, true, "2026-06-15"},
        {"2026-06-13", 0, true, "2026-06-13"},  {"2026-06-13", -3, true, "2026-06-13"},
        {"2026-06-15", 1, false, "2026-06-12"}, {"2026-06-14", 1, false, "2026-06-12"},
        {"2026-06-17", 2, false, "2026-06-15"}, {"2026-06-14", 0, false, "2026-06-14"},
        {"2026-06-10", 5, true, "2026-06-17"},  {"2026-06-10", 10, false, "2026-05-27"},
        {"2026-06-12", 2, true, "2026-06-16"},  {"2026-06-15", 23, true, "2026-07-16"},
    };
    const auto calendar = weekendsOnly();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.start) + (c.add ? " + " : " - ") + std::to_string(c.count));
        const date start = d(c.start);
        EXPECT_EQ(d(c.expected), c.add ? tsr::addBusinessDays(start, c.count, calendar)
                                       : tsr::subtractBusinessDays(start, c.count, calendar));
        EXPECT_EQ(d(c.expected), c.add ? tsr::addBusinessDays(start, c.count, *calendar)
                                       : tsr::subtractBusinessDays(start, c.count, *calendar));
    }
}

TEST(DateArithmetic, WalksAndAdjustmentsSkipHolidays) {
    // Thursday 2026-12-24 and Friday 2026-12-25 closed.
    const auto calendar = std::make_shared<tsr::SingleCalendar>(
        "xmas", tsr::saturdaySundayWeekend, std::vector<date>{d("2026-12-25"), d("2026-12-24")},
        std::vector<date>{});
    EXPECT_EQ(d("2026-12-28"), tsr::addBusinessDays(d("2026-12-23"), 1, calendar));
    EXPECT_EQ(d("2026-12-23"), tsr::subtractBusinessDays(d("2026-12-28"), 1, calendar));
    EXPECT_EQ(d("2026-12-29"), tsr::addBusinessDays(d("2026-12-24"), 2, calendar));
    // A holiday start stays a holiday when nothing is added.
    EXPECT_EQ(d("2026-12-25"), tsr::addBusinessDays(d("2026-12-25"), 0, calendar));
    // Thursday 2026-12-31 and Friday 2027-01-01 closed, Wednesday 2026-12-30 closed too:
    // the backward walk starts at 2026-12-30 and lands on Tuesday 2026-12-29.
    const auto yearEnd = std::make_shared<tsr::SingleCalendar>(
        "year end", tsr::saturdaySundayWeekend,
        std::vector<date>{d("2026-12-30"), d("2026-12-31"), d("2027-01-01")}, std::vector<date>{});
    EXPECT_EQ(d("2026-12-29"),
              tsr::adjustDate(d("2026-12-31"), BusinessDay::ModifiedFollowing, yearEnd));
    EXPECT_EQ(d("2027-01-04"), tsr::adjustDate(d("2026-12-31"), BusinessDay::Following, yearEnd));
}

TEST(DateArithmetic, AWalkWithoutABusinessDayForAYearStopsNamingTheCalendar) {
    // Open only on Mondays, closed every day of 2027 by its list.
    std::vector<date> closed;
    for (date day = d("2027-01-01"); day <= d("2027-12-31"); day += boost::gregorian::days(1)) {
        closed.push_back(day);
    }
    const auto calendar = std::make_shared<tsr::SingleCalendar>(
        "closed 2027", tsr::WeekdaySet{{1, 0, 1, 1, 1, 1, 1}}, closed, std::vector<date>{});
    const std::string after = "Error, calendar closed 2027 has no business day within a year "
                              "after 2026-12-28.";
    const std::string before = "Error, calendar closed 2027 has no business day within a year "
                               "before 2028-01-03.";
    expectThrowWithMessage<std::runtime_error>(
        [&] { tsr::addBusinessDays(d("2026-12-28"), 1, calendar); }, after);
    expectThrowWithMessage<std::runtime_error>(
        [&] { tsr::adjustDate(d("2026-12-29"), BusinessDay::Following, calendar); },
        "Error, calendar closed 2027 has no business day within a year after 2026-12-29.");
    expectThrowWithMessage<std::runtime_error>(
        [&] { tsr::subtractBusinessDays(d("2028-01-03"), 1, calendar); }, before);
    // Only the gap counts: Mondays on either side of it are found.
    EXPECT_EQ(d("2026-12-28"), tsr::addBusinessDays(d("2026-12-21"), 1, calendar));
    // A walk past the last day the date library holds is its range error, not a wrap.
    EXPECT_THROW(
        tsr::addBusinessDays(d("9999-12-30"), 2,
                             tsr::SingleCalendar("weekends", tsr::saturdaySundayWeekend, {}, {})),
        boost::gregorian::bad_year);
}

TEST(DateArithmetic, NonPositiveCountsAndNoAdjustmentNeverAskTheCalendar) {
    CountingCalendar calendar;
    const date saturday = d("2026-06-13");
    EXPECT_EQ(saturday, tsr::addBusinessDays(saturday, 0, calendar));
    EXPECT_EQ(saturday, tsr::subtractBusinessDays(saturday, -1, calendar));
    EXPECT_EQ(saturday, tsr::adjustDate(saturday, BusinessDay::NoAdjustment, calendar));
    EXPECT_EQ(0, calendar.queries);

    const std::shared_ptr<const tsr::Calendar> none;
    EXPECT_EQ(saturday, tsr::adjustDate(saturday, BusinessDay::NoAdjustment, none));
    EXPECT_EQ(saturday, tsr::addBusinessDays(saturday, 0, none));
    EXPECT_EQ(saturday, tsr::subtractBusinessDays(saturday, -2, none));
    // A missing calendar that is needed is an error, not a crash.
    EXPECT_THROW(tsr::adjustDate(saturday, BusinessDay::Following, none), std::invalid_argument);
    EXPECT_THROW(tsr::addBusinessDays(saturday, 1, none), std::invalid_argument);
    EXPECT_THROW(tsr::subtractBusinessDays(saturday, 1, none), std::invalid_argument);
}

TEST(DateArithmetic, AdjustsByConvention) {
    const struct {
        const char* day;
        BusinessDay convention;
        const char* expected;
    } cases[] = {
        // Saturday 2026-01-31: the following business day is in February.
        {"2026-01-31", BusinessDay::ModifiedFollowing, "2026-01-30"},
        {"2026-01-31", BusinessDay::Following, "2026-02-02"},
        {"2026-01-31", BusinessDay::Preceding, "2026-01-30"},
        {"2026-01-31", BusinessDay::NoAdjustment, "2026-01-31"},
        // Saturday 2026-05-30.
        {"2026-05-30", BusinessDay::Following, "2026-06-01"},
        {"2026-05-30", BusinessDay::ModifiedFollowing, "2026-05-29"},
        // Sunday 2026-03-01: preceding would leave the month, modified following does not look.
        {"2026-03-01", BusinessDay::ModifiedFollowing, "2026-03-02"},
        {"2026-03-01", BusinessDay::Preceding, "2026-02-27"},
        // Sunday 2026-06-14 within a month.
        {"2026-06-14", BusinessDay::ModifiedFollowing, "2026-06-15"},
        {"2026-06-14", BusinessDay::Preceding, "2026-06-12"},
    };
    const auto calendar = weekendsOnly();
    for (const auto& c : cases) {
        EXPECT_EQ(d(c.expected), tsr::adjustDate(d(c.day), c.convention, calendar))
            << c.day << " convention " << static_cast<int>(c.convention);
    }
}

TEST(DateArithmetic, BusinessDaysAreKeptUnderEveryConvention) {
    const auto calendar = weekendsOnly();
    const date monday = d("2026-06-01");
    for (const auto convention :
         {BusinessDay::NoAdjustment, BusinessDay::Following, BusinessDay::ModifiedFollowing,
          BusinessDay::Preceding, static_cast<BusinessDay>(9)}) {
        EXPECT_EQ(monday, tsr::adjustDate(monday, convention, calendar));
    }
    EXPECT_EQ("Error, programming error.", messageOf([&] {
                  tsr::adjustDate(d("2026-06-13"), static_cast<BusinessDay>(9), calendar);
              }));
}

TEST(DateArithmetic, WalksAndAdjustmentsDoNotAllocate) {
    const auto calendar = std::make_shared<tsr::SingleCalendar>("xmas", tsr::saturdaySundayWeekend,
                                                                std::vector<date>{d("2026-12-25")},
                                                                std::vector<date>{d("2026-12-26")});
    const tsr::Calendar& byReference = *calendar;
    allocations = 0;
    countAllocations = true;
    date sink = tsr::addBusinessDays(d("2026-12-01"), 40, byReference);
    sink = tsr::subtractBusinessDays(sink, 40, byReference);
    sink = tsr::adjustDate(d("2026-12-27"), BusinessDay::ModifiedFollowing, byReference);
    sink = tsr::addBusinessDays(sink, 3, calendar);
    sink = tsr::adjustDate(sink + boost::gregorian::days(5), BusinessDay::Preceding, calendar);
    countAllocations = false;
    EXPECT_EQ(0, allocations);
    EXPECT_FALSE(sink.is_special());
}

TEST(DateArithmetic, BusinessDayNamesIgnoreLetterCaseOnly) {
    const std::vector<std::pair<std::string, BusinessDay>> accepted = {
        {"No Adjustment", BusinessDay::NoAdjustment},
        {"no adjustment", BusinessDay::NoAdjustment},
        {"Following", BusinessDay::Following},
        {"following", BusinessDay::Following},
        {"FOLLOWING", BusinessDay::Following},
        {"Modified Following", BusinessDay::ModifiedFollowing},
        {"modified FOLLOWING", BusinessDay::ModifiedFollowing},
        {"Preceding", BusinessDay::Preceding},
        {"pReCeDiNg", BusinessDay::Preceding},
    };
    for (const auto& [name, value] : accepted) {
        EXPECT_EQ(value, tsr::parseBusinessDay(name)) << name;
    }
    expectThrowWithMessage<std::invalid_argument>([] { tsr::parseBusinessDay(""); },
                                                  "empty string");
    for (const std::string& name :
         {std::string("Following "), std::string(" Following"), std::string("MF"), std::string("F"),
          std::string("ModifiedFollowing"), std::string("NoAdjustment"),
          std::string("Following\0", 10)}) {
        expectThrowWithMessage<std::invalid_argument>([&] { tsr::parseBusinessDay(name); },
                                                      "unknown value");
    }
}
