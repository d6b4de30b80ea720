#include "dates/holiday_calendars.hpp"

#include "dates/single_calendar.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using tsr::CalendarRepository;
using tsr::date;
using tsr::SingleCalendar;

namespace {

date d(const std::string& text) {
    return boost::gregorian::from_simple_string(text);
}

struct Expected {
    std::string name;
    std::map<int, std::size_t> perYear;
    // The listed dates that fall on a Saturday or Sunday.
    std::vector<std::string> weekendEntries;
};

const std::vector<Expected>& expectedCalendars() {
    static const std::vector<Expected> calendars = {
        {"USGS", {{2026, 11}, {2027, 12}}, {}},
        {"US", {{2026, 11}, {2027, 11}, {2028, 11}, {2029, 11}, {2030, 11}}, {"2028-12-31"}},
        {"SG", {{2026, 11}}, {"2026-03-21"}},
        {"TG",
         {{2026, 14}, {2027, 14}, {2028, 14}},
         {"2026-05-09", "2026-10-03", "2026-11-01", "2026-12-26", "2027-05-01", "2027-05-09",
          "2027-10-03", "2027-12-25", "2027-12-26", "2028-01-01", "2028-12-24", "2028-12-31"}},
        {"EN", {{2026, 8}, {2027, 8}, {2028, 8}}, {}},
        {"JP",
         {{2026, 21}, {2027, 20}},
         {"2026-01-03", "2026-05-03", "2027-01-02", "2027-01-03", "2027-03-21", "2027-10-03",
          "2027-10-23"}},
        {"CH",
         {{2026, 11}, {2027, 11}, {2028, 11}},
         {"2026-08-01", "2026-12-26", "2027-01-02", "2027-05-01", "2027-08-01", "2027-12-25",
          "2027-12-26", "2028-01-01", "2028-12-31"}},
    };
    return calendars;
}

CalendarRepository builtIns() {
    CalendarRepository repository;
    tsr::registerHolidayCalendars(repository);
    return repository;
}

std::shared_ptr<const SingleCalendar> single(const CalendarRepository& repository,
                                             const std::string& name) {
    auto calendar = std::dynamic_pointer_cast<const SingleCalendar>(repository.getSingle(name));
    if (!calendar) {
        throw std::logic_error(name + " is not a single calendar");
    }
    return calendar;
}

bool isWeekend(const date& day) {
    return day.day_of_week() == boost::date_time::Saturday ||
           day.day_of_week() == boost::date_time::Sunday;
}

struct SpotCheck {
    const char* calendar;
    const char* day;
    bool open;
};

} // namespace

TEST(HolidayCalendars, EachCalendarHasItsListedHolidaysPerYear) {
    const CalendarRepository repository = builtIns();
    const std::map<std::string, std::size_t> totals = {
        {"USGS", 23}, {"US", 55}, {"SG", 11}, {"TG", 42}, {"EN", 24}, {"JP", 41}, {"CH", 33}};
    for (const auto& expected : expectedCalendars()) {
        SCOPED_TRACE(expected.name);
        const auto calendar = single(repository, expected.name);
        EXPECT_EQ(expected.name, calendar->name());
        EXPECT_EQ(totals.at(expected.name), calendar->holidays().size());
        std::map<int, std::size_t> perYear;
        std::vector<std::string> weekendEntries;
        for (const date& holiday : calendar->holidays()) {
            ++perYear[holiday.year()];
            if (isWeekend(holiday)) {
                weekendEntries.push_back(boost::gregorian::to_iso_extended_string(holiday));
            }
            // Every listed weekday is closed.
            EXPECT_FALSE(calendar->isBusinessDay(holiday)) << holiday;
        }
        EXPECT_EQ(expected.perYear, perYear);
        EXPECT_EQ(expected.weekendEntries, weekendEntries);
        EXPECT_TRUE(std::adjacent_find(calendar->holidays().begin(), calendar->holidays().end()) ==
                    calendar->holidays().end());
        EXPECT_TRUE(calendar->businessDays().empty());
        const std::array<std::uint8_t, 7> saturdaySunday = {1, 0, 0, 0, 0, 0, 1};
        EXPECT_EQ(saturdaySunday, calendar->weekend().flags);
    }
}

TEST(HolidayCalendars, SpotChecks) {
    const CalendarRepository repository = builtIns();
    const std::vector<SpotCheck> checks = {
        {"US", "2026-07-03", false},   {"US", "2026-07-04", false},  {"US", "2027-12-24", false},
        {"US", "2027-12-31", true},    {"US", "2029-01-01", false},  {"US", "2028-01-17", false},
        {"US", "2027-03-26", true},    {"US", "2031-01-01", true},   {"US", "2026-07-06", true},
        {"USGS", "2027-03-26", false}, {"USGS", "2028-01-17", true}, {"USGS", "2026-11-11", false},
        {"SG", "2027-01-01", true},    {"SG", "2026-02-17", false},  {"SG", "2026-02-16", true},
        {"JP", "2027-11-03", true},    {"JP", "2026-05-06", false},  {"JP", "2026-11-03", false},
        {"EN", "2026-05-04", false},   {"EN", "2027-12-27", false},  {"EN", "2029-01-01", true},
        {"TG", "2028-06-15", false},   {"TG", "2026-12-31", false},  {"CH", "2028-01-03", false},
        {"CH", "2026-08-03", true},    {"CH", "2029-01-02", true},
    };
    for (const auto& check : checks) {
        EXPECT_EQ(check.open, repository.get(check.calendar)->isBusinessDay(d(check.day)))
            << check.calendar << " " << check.day;
    }
}

TEST(HolidayCalendars, UnionOfUsAndEnglandClosesOnEitherHoliday) {
    const CalendarRepository repository = builtIns();
    const auto calendar = repository.get("US,EN");
    EXPECT_EQ("US,EN", calendar->name());
    EXPECT_FALSE(calendar->isBusinessDay(d("2026-05-04")));
    EXPECT_FALSE(calendar->isBusinessDay(d("2026-07-03")));
    EXPECT_TRUE(calendar->isBusinessDay(d("2026-07-06")));
    EXPECT_TRUE(repository.get("US")->isBusinessDay(d("2026-05-04")));
    EXPECT_TRUE(repository.get("EN")->isBusinessDay(d("2026-07-03")));
}

TEST(HolidayCalendars, RegistrationStopsAtTheFirstTakenName) {
    CalendarRepository repository;
    const auto mine = std::make_shared<SingleCalendar>("SG", tsr::WeekdaySet{}, std::vector<date>{},
                                                       std::vector<date>{});
    repository.add(mine);
    try {
        tsr::registerHolidayCalendars(repository);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("Calendar already registered: SG", e.what());
    }
    EXPECT_EQ(mine, repository.getSingle("SG"));
    EXPECT_NO_THROW((void)repository.getSingle("USGS"));
    EXPECT_NO_THROW((void)repository.getSingle("US"));
    for (const char* later : {"TG", "EN", "JP", "CH"}) {
        EXPECT_THROW((void)repository.getSingle(later), std::runtime_error) << later;
    }
}
