#include "conventions/generator_swap.hpp"
#include "conventions/schedule_roll.hpp"
#include "dates/business_day.hpp"
#include "dates/calendar_repository.hpp"
#include "dates/convention_name.hpp"
#include "dates/date_arithmetic.hpp"
#include "dates/day_counter.hpp"
#include "dates/tenor.hpp"

#include <algorithm>
#include <array>

namespace tsr {

ScheduleRoll parseScheduleRoll(std::string_view name) {
    static constexpr std::array<std::pair<ScheduleRoll, std::string_view>, 2> names{{
        {ScheduleRoll::Backward, "Backward"},
        {ScheduleRoll::Forward, "Forward"},
    }};
    return lookupConventionName(name, names);
}

namespace {

// Unadjusted schedule dates in ascending order. Every date is a whole
// multiple of the frequency away from the anchor, so a day of month clamped
// in a short month does not propagate to later dates.
std::vector<date> unadjustedDates(date start, date end, const Tenor& frequency, ScheduleRoll roll) {
    std::vector<date> dates;
    if (roll == ScheduleRoll::Forward) {
        dates.push_back(start);
        for (int k = 1;; ++k) {
            const date d = addTenor(start, k * frequency);
            if (d > end) {
                break;
            }
            dates.push_back(d);
        }
        if (dates.back() != end) {
            dates.push_back(end);
        }
    } else {
        dates.push_back(end);
        for (int k = 1;; ++k) {
            const date d = subtractTenor(end, k * frequency);
            if (d < start) {
                break;
            }
            dates.push_back(d);
        }
        if (dates.back() != start) {
            dates.push_back(start);
        }
        std::reverse(dates.begin(), dates.end());
    }
    return dates;
}

} // namespace

void GeneratorSwap::SwapLeg::generate(date start, date end, std::vector<date>& accrualStartDates,
                                      std::vector<date>& accrualEndDates,
                                      std::vector<date>& paymentDates,
                                      std::vector<double>& dayCountFractions) const {
    const ScheduleRoll scheduleRoll = parseScheduleRoll(roll_);
    const Tenor tenor(frequency_);
    std::vector<date> dates = unadjustedDates(start, end, tenor, scheduleRoll);

    const BusinessDay accrualConvention = parseBusinessDay(accrualAdjustment_);
    if (accrualConvention != BusinessDay::NoAdjustment) {
        const auto accrualCal = CalendarRepository::instance().get(accrualCalendar_);
        for (auto& d : dates) {
            d = adjustDate(d, accrualConvention, *accrualCal);
        }
    }

    accrualStartDates.clear();
    accrualEndDates.clear();
    paymentDates.clear();
    dayCountFractions.clear();

    const auto payCal = CalendarRepository::instance().get(payCalendar_);
    const BusinessDay payConvention = parseBusinessDay(payAdjustment_);
    const DayCounter dayCounter(dayCountConvention_);

    const std::size_t periods = dates.size() - 1;
    accrualStartDates.reserve(periods);
    accrualEndDates.reserve(periods);
    paymentDates.reserve(periods);
    dayCountFractions.reserve(periods);
    for (std::size_t i = 1; i < dates.size(); ++i) {
        accrualStartDates.push_back(dates[i - 1]);
        accrualEndDates.push_back(dates[i]);
        // A lagged payment date is already a business day of the pay calendar.
        paymentDates.push_back(payLag_ != 0 ? addBusinessDays(dates[i], payLag_, *payCal)
                                            : adjustDate(dates[i], payConvention, *payCal));
        dayCountFractions.push_back(dayCounter.fraction(dates[i - 1], dates[i]));
    }
}

} // namespace tsr
