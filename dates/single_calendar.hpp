#pragma once

#include "dates/calendar.hpp"
#include "dates/holiday_coverage.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tsr {

// A calendar given by its weekend days and explicit lists: holidays, and business days that win
// over both the holidays and the weekend.
class SingleCalendar : public Calendar {
public:
    // Copies both lists and sorts the copies; the callers' order does not matter.
    SingleCalendar(std::string name, WeekdaySet weekend, const std::vector<date>& holidays,
                   const std::vector<date>& businessDays);
    // The same, with the years the lists cover and where each run of years came from.
    SingleCalendar(std::string name, WeekdaySet weekend, const std::vector<date>& holidays,
                   const std::vector<date>& businessDays, std::vector<HolidaySpan> coverage);

    bool isBusinessDay(const date& d) const override;

    const WeekdaySet& weekend() const { return weekend_; }
    // Sorted ascending.
    const std::vector<date>& holidays() const { return holidays_; }
    const std::vector<date>& businessDays() const { return businessDays_; }

    // A calendar of the same name with `added` holidays on top of these lists, and `weekend` in
    // place of this one.
    std::shared_ptr<SingleCalendar> extended(const std::vector<date>& added,
                                             WeekdaySet weekend) const;
    // The same, recording that `added` covers the years of `span`.
    std::shared_ptr<SingleCalendar> extended(const std::vector<date>& added, WeekdaySet weekend,
                                             HolidaySpan span) const;

    // The years the lists cover, in the order they were added. A calendar built without them
    // covers the years of its holidays, as the user's.
    std::vector<HolidaySpan> coverage() const;
    // The last covered year; 0 without holidays or coverage.
    int lastCoveredYear() const;

private:
    // The business-day rule straight from the lists.
    bool listedRule(const date& d) const;

    WeekdaySet weekend_;
    std::vector<date> holidays_;
    std::vector<date> businessDays_;
    std::vector<HolidaySpan> coverage_;
    // The rule tabulated, one bit per day from the first to the last listed date.
    std::uint32_t firstTabulated_ = 0;
    std::uint32_t tabulatedDays_ = 0;
    std::vector<std::uint64_t> open_;
};

} // namespace tsr
