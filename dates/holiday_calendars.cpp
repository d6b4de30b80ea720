#include "dates/holiday_calendars.hpp"

#include "dates/single_calendar.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>

#include <algorithm>
#include <array>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tsr {

namespace {

// Holiday lists by calendar and year. Only the listed days are holidays: nothing is derived by
// rule, and outside the listed years only Saturdays and Sundays are closed. Some entries fall on
// a weekend and change nothing; they are kept as listed.

// "USGS": US government securities market, the calendar of the dollar overnight index.
constexpr std::string_view usgsHolidays[] = {
    // 2026
    "2026-01-01", "2026-01-19", "2026-02-16", "2026-05-25", "2026-06-19", "2026-07-03",
    "2026-09-07", "2026-10-12", "2026-11-11", "2026-11-26", "2026-12-25",
    // 2027
    "2027-01-01", "2027-01-18", "2027-02-15", "2027-03-26", "2027-05-31", "2027-06-18",
    "2027-07-05", "2027-09-06", "2027-10-11", "2027-11-11", "2027-11-25", "2027-12-24"};

// "US": US dollar swaps.
constexpr std::string_view usHolidays[] = {
    // 2026
    "2026-01-01", "2026-01-19", "2026-02-16", "2026-05-25", "2026-06-19", "2026-07-03",
    "2026-09-07", "2026-10-12", "2026-11-11", "2026-11-26", "2026-12-25",
    // 2027
    "2027-01-01", "2027-01-18", "2027-02-15", "2027-05-31", "2027-06-18", "2027-07-05",
    "2027-09-06", "2027-10-11", "2027-11-11", "2027-11-25", "2027-12-24",
    // 2028
    "2028-01-17", "2028-02-21", "2028-05-29", "2028-06-19", "2028-07-04", "2028-09-04",
    "2028-10-09", "2028-11-10", "2028-11-23", "2028-12-25", "2028-12-31",
    // 2029
    "2029-01-01", "2029-01-15", "2029-02-19", "2029-05-28", "2029-06-19", "2029-07-04",
    "2029-09-03", "2029-10-08", "2029-11-12", "2029-11-22", "2029-12-25",
    // 2030
    "2030-01-01", "2030-01-21", "2030-02-18", "2030-05-27", "2030-06-19", "2030-07-04",
    "2030-09-02", "2030-10-14", "2030-11-11", "2030-11-28", "2030-12-25"};

// "SG": Singapore.
constexpr std::string_view sgHolidays[] = {
    // 2026
    "2026-01-01", "2026-02-17", "2026-02-18", "2026-03-21", "2026-04-03", "2026-05-01",
    "2026-05-27", "2026-06-01", "2026-08-10", "2026-11-09", "2026-12-25"};

// "TG": Euro settlement days.
constexpr std::string_view tgHolidays[] = {
    // 2026
    "2026-01-01", "2026-04-03", "2026-04-06", "2026-05-01", "2026-05-09", "2026-05-14",
    "2026-05-25", "2026-06-04", "2026-10-03", "2026-11-01", "2026-12-24", "2026-12-25",
    "2026-12-26", "2026-12-31",
    // 2027
    "2027-01-01", "2027-03-26", "2027-03-29", "2027-05-01", "2027-05-06", "2027-05-09",
    "2027-05-17", "2027-05-27", "2027-10-03", "2027-11-01", "2027-12-24", "2027-12-25",
    "2027-12-26", "2027-12-31",
    // 2028
    "2028-01-01", "2028-04-14", "2028-04-17", "2028-05-01", "2028-05-09", "2028-05-25",
    "2028-06-05", "2028-06-15", "2028-10-03", "2028-11-01", "2028-12-24", "2028-12-25",
    "2028-12-26", "2028-12-31"};

// "EN": England.
constexpr std::string_view enHolidays[] = {
    // 2026
    "2026-01-01", "2026-04-03", "2026-04-06", "2026-05-04", "2026-05-25", "2026-08-31",
    "2026-12-25", "2026-12-28",
    // 2027
    "2027-01-01", "2027-03-26", "2027-03-29", "2027-05-03", "2027-05-31", "2027-08-30",
    "2027-12-27", "2027-12-28",
    // 2028
    "2028-01-03", "2028-04-14", "2028-04-17", "2028-05-01", "2028-05-29", "2028-08-28",
    "2028-12-25", "2028-12-26"};

// "JP": Japan.
constexpr std::string_view jpHolidays[] = {
    // 2026
    "2026-01-01", "2026-01-02", "2026-01-03", "2026-01-12", "2026-02-11", "2026-02-23",
    "2026-03-20", "2026-04-29", "2026-05-03", "2026-05-04", "2026-05-05", "2026-05-06",
    "2026-07-20", "2026-08-11", "2026-09-21", "2026-09-22", "2026-09-23", "2026-10-12",
    "2026-11-03", "2026-11-23", "2026-12-31",
    // 2027
    "2027-01-01", "2027-01-02", "2027-01-03", "2027-01-11", "2027-02-11", "2027-02-23",
    "2027-03-21", "2027-03-22", "2027-04-29", "2027-05-03", "2027-05-04", "2027-05-05",
    "2027-07-19", "2027-08-11", "2027-09-20", "2027-09-23", "2027-10-03", "2027-10-11",
    "2027-10-23", "2027-12-31"};

// "CH": Switzerland.
constexpr std::string_view chHolidays[] = {
    // 2026
    "2026-01-01", "2026-01-02", "2026-04-03", "2026-04-06", "2026-05-01", "2026-05-14",
    "2026-05-25", "2026-08-01", "2026-12-25", "2026-12-26", "2026-12-31",
    // 2027
    "2027-01-01", "2027-01-02", "2027-03-26", "2027-03-29", "2027-05-01", "2027-05-06",
    "2027-05-17", "2027-08-01", "2027-12-25", "2027-12-26", "2027-12-31",
    // 2028
    "2028-01-01", "2028-01-03", "2028-04-14", "2028-04-17", "2028-05-01", "2028-05-25",
    "2028-06-05", "2028-08-01", "2028-12-25", "2028-12-26", "2028-12-31"};

struct BuiltInCalendar {
    std::string_view name;
    std::span<const std::string_view> holidays;
};

// In registration order.
constexpr std::array<BuiltInCalendar, 7> builtInCalendars{{
    {"USGS", usgsHolidays},
    {"US", usHolidays},
    {"SG", sgHolidays},
    {"TG", tgHolidays},
    {"EN", enHolidays},
    {"JP", jpHolidays},
    {"CH", chHolidays},
}};

} // namespace

void registerHolidayCalendars(CalendarRepository& repository) {
    const std::vector<date> noBusinessDays;
    for (const auto& [name, texts] : builtInCalendars) {
        std::vector<date> holidays;
        holidays.reserve(texts.size());
        for (const std::string_view text : texts) {
            holidays.push_back(boost::gregorian::from_simple_string(std::string(text)));
        }
        const auto [first, last] = std::minmax_element(holidays.begin(), holidays.end());
        const HolidaySpan listed{first->year(), last->year(), HolidaySource::BuiltIn};
        repository.add(std::make_shared<SingleCalendar>(std::string(name), saturdaySundayWeekend,
                                                        holidays, noBusinessDays,
                                                        std::vector<HolidaySpan>{listed}));
    }
}

} // namespace tsr
