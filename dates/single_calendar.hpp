#pragma once

#include "dates/calendar.hpp"

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

    bool isBusinessDay(const date& d) const override;

    const WeekdaySet& weekend() const { return weekend_; }
    // Sorted ascending.
    const std::vector<date>& holidays() const { return holidays_; }
    const std::vector<date>& businessDays() const { return businessDays_; }

    // A calendar of the same name with `added` holidays on top of these lists, and `weekend` in
    // place of this one.
    std::shared_ptr<SingleCalendar> extended(const std::vector<date>& added,
                                             WeekdaySet weekend) const;

private:
    // The business-day rule straight from the lists.
    bool listedRule(const date& d) const;

    WeekdaySet weekend_;
    std::vector<date> holidays_;
    std::vector<date> businessDays_;
    // The rule tabulated, one bit per day from the first to the last listed date.
    std::uint32_t firstTabulated_ = 0;
    std::uint32_t tabulatedDays_ = 0;
    std::vector<std::uint64_t> open_;
};

} // namespace tsr
