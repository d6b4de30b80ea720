#pragma once

#include "dates/calendar.hpp"

#include <vector>

namespace tsr {

// The listed holidays of `calendar` from `first` to `last` inclusive, ascending and without
// repeats: a single calendar's holiday list less its business-day exceptions, a union's the
// holidays of any member. Weekends are not listed. Each list is searched, not walked.
std::vector<date> holidaysBetween(const Calendar& calendar, const date& first, const date& last);

} // namespace tsr
