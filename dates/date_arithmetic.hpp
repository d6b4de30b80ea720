#pragma once

#include "core/date.hpp"
#include "dates/business_day.hpp"
#include "dates/calendar.hpp"
#include "dates/tenor.hpp"

#include <cstdint>
#include <memory>
#include <optional>

namespace tsr {

// d moved by a tenor in days, weeks, months or years. Months and years keep the day of month,
// reduced to fit a shorter month; there is no end-of-month rule. Day and week steps leave the
// special date values unchanged; the date library's range errors propagate.
date addTenor(date d, Tenor tenor);
date subtractTenor(date d, Tenor tenor);

// The count-th business day after (before) d; d itself never counts. A count <= 0 returns d
// without asking the calendar.
date addBusinessDays(date d, int count, const Calendar& calendar);
date subtractBusinessDays(date d, int count, const Calendar& calendar);
date addBusinessDays(date d, int count, std::shared_ptr<const Calendar> calendar);
date subtractBusinessDays(date d, int count, std::shared_ptr<const Calendar> calendar);

// d rolled to a business day by the convention. NoAdjustment never asks the calendar, so the
// pointer may be null in that case.
date adjustDate(date d, BusinessDay convention, const Calendar& calendar);
date adjustDate(date d, BusinessDay convention, std::shared_ptr<const Calendar> calendar);

// The date `days` after 1970-01-01 (as NumPy's datetime64[D] counts), if it lies in the
// years 1400 to 9999 the date library holds; nothing otherwise.
std::optional<date> dateFromEpochDays(std::int64_t days);
// The days from 1970-01-01 to d.
std::int64_t epochDays(date d);

} // namespace tsr
