#pragma once

#include "core/date.hpp"
#include "dates/business_day.hpp"
#include "dates/calendar.hpp"
#include "dates/tenor.hpp"

#include <memory>

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

} // namespace tsr
