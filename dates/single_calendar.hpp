#pragma once

#include "dates/calendar.hpp"

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

    bool isBusinessDay(const date& d) const override;

    const WeekdaySet& weekend() const { return weekend_; }
    // Sorted ascending.
    const std::vector<date>& holidays() const { return holidays_; }
    const std::vector<date>& businessDays() const { return businessDays_; }

private:
    WeekdaySet weekend_;
    std::vector<date> holidays_;
    std::vector<date> businessDays_;
};

} // namespace tsr
