#include "dates/calendar_holidays.hpp"
#include "dates/holiday_calendars.hpp"
#include "dates/single_calendar.hpp"
#include "dates/union_calendar.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

using namespace tsr::test;

using tsr::HolidaySource;
using tsr::HolidaySpan;
using tsr::SingleCalendar;

namespace {

std::vector<std::tuple<int, int, HolidaySource>> spans(const SingleCalendar& calendar) {
    std::vector<std::tuple<int, int, HolidaySource>> out;
    for (const HolidaySpan& span : calendar.coverage()) {
        out.emplace_back(span.firstYear, span.lastYear, span.source);
    }
    return out;
}

} // namespace

TEST(CalendarHolidays, ListsHolidaysInRangeLessBusinessDayExceptionsAndMergesUnions) {
    const auto a = std::make_shared<SingleCalendar>(
        "A", tsr::saturdaySundayWeekend, dates({"2031-01-01", "2031-05-01", "2031-12-25"}),
        dates({"2031-05-01"}));
    const auto b = std::make_shared<SingleCalendar>(
        "B", tsr::saturdaySundayWeekend, dates({"2031-12-25", "2031-12-26", "2032-01-01"}),
        std::vector<tsr::date>{});
    EXPECT_EQ(dates({"2031-01-01", "2031-12-25"}),
              tsr::holidaysBetween(*a, d("2031-01-01"), d("2031-12-31")));
    EXPECT_EQ(dates({"2031-12-25"}), tsr::holidaysBetween(*a, d("2031-01-02"), d("2031-12-25")));
    const tsr::UnionCalendar both("A,B", {a, b});
    EXPECT_EQ(dates({"2031-12-25", "2031-12-26", "2032-01-01"}),
              tsr::holidaysBetween(both, d("2031-06-01"), d("2032-06-01")));
    EXPECT_TRUE(tsr::holidaysBetween(both, d("2032-06-01"), d("2031-06-01")).empty());
}

TEST(CalendarHolidays, CoverageRecordsWhereEachRunOfYearsCameFrom) {
    tsr::CalendarRepository repository;
    tsr::registerHolidayCalendars(repository);
    const auto us = std::dynamic_pointer_cast<const SingleCalendar>(repository.getSingle("US"));
    ASSERT_TRUE(us);
    EXPECT_EQ(spans(*us), (decltype(spans(*us)){{2026, 2030, HolidaySource::BuiltIn}}));

    const auto rules = us->extended(dates({"2031-01-01", "2031-07-04"}), us->weekend(),
                                    HolidaySpan{2031, 2032, HolidaySource::Rules});
    const auto user = rules->extended(dates({"2040-12-24", "2036-12-26"}), rules->weekend());
    EXPECT_EQ(spans(*user), (decltype(spans(*user)){{2026, 2030, HolidaySource::BuiltIn},
                                                    {2031, 2032, HolidaySource::Rules},
                                                    {2036, 2040, HolidaySource::User}}));
    EXPECT_EQ(2032, rules->lastCoveredYear());
    EXPECT_FALSE(user->isBusinessDay(d("2031-07-04")));
    EXPECT_FALSE(user->isBusinessDay(d("2036-12-26")));
    // The built-in years are untouched.
    EXPECT_EQ(tsr::holidaysBetween(*us, d("2026-01-01"), d("2030-12-31")),
              tsr::holidaysBetween(*user, d("2026-01-01"), d("2030-12-31")));

    // A calendar built without coverage covers the years of its list, as the user's.
    const SingleCalendar plain("P", tsr::saturdaySundayWeekend, dates({"2033-05-01", "2031-01-01"}),
                               {});
    EXPECT_EQ(spans(plain), (decltype(spans(plain)){{2031, 2033, HolidaySource::User}}));
    EXPECT_EQ(tsr::holidaySourceName(HolidaySource::Rules), "rules");
    EXPECT_EQ(tsr::parseHolidaySource("built-in"), HolidaySource::BuiltIn);
    EXPECT_FALSE(tsr::parseHolidaySource("made up"));
}
