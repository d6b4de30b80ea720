#include "dates/single_calendar.hpp"

#include <algorithm>
#include <utility>

namespace tsr {

SingleCalendar::SingleCalendar(std::string name, WeekdaySet weekend,
                               const std::vector<date>& holidays,
                               const std::vector<date>& businessDays)
    : Calendar(std::move(name)), weekend_(weekend), holidays_(holidays),
      businessDays_(businessDays) {
    std::sort(holidays_.begin(), holidays_.end());
    std::sort(businessDays_.begin(), businessDays_.end());
}

bool SingleCalendar::isBusinessDay(const date& d) const {
    if (std::binary_search(businessDays_.begin(), businessDays_.end(), d)) {
        return true;
    }
    if (std::binary_search(holidays_.begin(), holidays_.end(), d)) {
        return false;
    }
    return !weekend_.contains(d.day_of_week().as_number());
}

} // namespace tsr
