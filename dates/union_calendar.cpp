#include "dates/union_calendar.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace tsr {

UnionCalendar::UnionCalendar(std::string name, std::vector<std::shared_ptr<Calendar>> calendars)
    : Calendar(std::move(name)), calendars_(std::move(calendars)) {
    if (calendars_.empty()) {
        throw std::invalid_argument("UnionCalendar requires at least one calendar");
    }
    if (std::find(calendars_.begin(), calendars_.end(), nullptr) != calendars_.end()) {
        throw std::invalid_argument("UnionCalendar requires non-null calendars");
    }
}

bool UnionCalendar::isBusinessDay(const date& d) const {
    for (const auto& calendar : calendars_) {
        if (!calendar->isBusinessDay(d)) {
            return false;
        }
    }
    return true;
}

} // namespace tsr
