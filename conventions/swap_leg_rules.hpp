#pragma once

#include "conventions/generator_swap.hpp"
#include "conventions/schedule_roll.hpp"
#include "core/date.hpp"
#include "dates/business_day.hpp"
#include "dates/calendar.hpp"
#include "dates/day_counter.hpp"
#include "dates/tenor.hpp"

#include <memory>
#include <vector>

namespace tsr {

// A swap leg's schedule conventions parsed once: names turned into values and calendars
// looked up. A book builds many swaps on few convention sets, so it parses each set once;
// generate() is the one schedule algorithm, also behind GeneratorSwap::SwapLeg::generate.
class SwapLegRules {
public:
    // Parses in the order a schedule needs them: roll, frequency, accrual adjustment and
    // calendar, pay calendar and adjustment, day count. Unknown names throw.
    explicit SwapLegRules(const GeneratorSwap::SwapLeg& leg);

    // Periods from start to end: accrual starts and ends, payment dates and day count
    // fractions, one entry per period in date order.
    void generate(date start, date end, std::vector<date>& accrualStartDates,
                  std::vector<date>& accrualEndDates, std::vector<date>& paymentDates,
                  std::vector<double>& dayCountFractions) const;

private:
    ScheduleRoll roll_;
    Tenor frequency_;
    BusinessDay accrualAdjustment_;
    // Null when accrual dates are not adjusted.
    std::shared_ptr<const Calendar> accrualCalendar_;
    std::shared_ptr<const Calendar> payCalendar_;
    BusinessDay payAdjustment_;
    int payLag_;
    DayCounter dayCounter_;
};

} // namespace tsr
