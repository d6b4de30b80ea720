#include "dates/calendar_holidays.hpp"

#include "dates/single_calendar.hpp"
#include "dates/union_calendar.hpp"

#include <algorithm>
#include <iterator>

namespace tsr {

namespace {

void collect(const Calendar& calendar, const date& first, const date& last,
             std::vector<date>& out) {
    if (const auto* single = dynamic_cast<const SingleCalendar*>(&calendar)) {
        const auto& holidays = single->holidays();
        const auto& open = single->businessDays();
        const auto begin = std::lower_bound(holidays.begin(), holidays.end(), first);
        const auto end = std::upper_bound(begin, holidays.end(), last);
        std::copy_if(begin, end, std::back_inserter(out), [&](const date& d) {
            return !std::binary_search(open.begin(), open.end(), d);
        });
        return;
    }
    if (const auto* joined = dynamic_cast<const UnionCalendar*>(&calendar)) {
        for (const auto& member : joined->calendars()) {
            collect(*member, first, last, out);
        }
    }
}

} // namespace

std::vector<date> holidaysBetween(const Calendar& calendar, const date& first, const date& last) {
    std::vector<date> out;
    if (first.is_special() || last.is_special() || last < first) {
        return out;
    }
    collect(calendar, first, last, out);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

} // namespace tsr
