#include "conventions/generator_swap.hpp"
#include "conventions/schedule_roll.hpp"
#include "conventions/swap_leg_rules.hpp"
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
void unadjustedDates(date start, date end, const Tenor& frequency, ScheduleRoll roll,
                     std::vector<date>& dates) {
    dates.clear();
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
}

} // namespace

SwapLegRules::SwapLegRules(const GeneratorSwap::SwapLeg& leg)
    : roll_(parseScheduleRoll(leg.roll())), frequency_(leg.frequency()),
      accrualAdjustment_(parseBusinessDay(leg.accrualAdjustment())),
      accrualCalendar_(accrualAdjustment_ != BusinessDay::NoAdjustment
                           ? CalendarRepository::current().get(leg.accrualCalendar())
                           : nullptr),
      payCalendar_(CalendarRepository::current().get(leg.payCalendar())),
      payAdjustment_(parseBusinessDay(leg.payAdjustment())), payLag_(leg.payLag()),
      dayCounter_(leg.dayCountConvention()) {}

void SwapLegRules::generate(date start, date end, std::vector<date>& accrualStartDates,
                            std::vector<date>& accrualEndDates, std::vector<date>& paymentDates,
                            std::vector<double>& dayCountFractions) const {
    // Kept by the thread: a book generates many schedules, each into the same buffer.
    thread_local std::vector<date> dates;
    unadjustedDates(start, end, frequency_, roll_, dates);
    if (accrualCalendar_) {
        for (auto& d : dates) {
            d = adjustDate(d, accrualAdjustment_, *accrualCalendar_);
        }
    }

    accrualStartDates.clear();
    accrualEndDates.clear();
    paymentDates.clear();
    dayCountFractions.clear();

    const std::size_t periods = dates.size() - 1;
    accrualStartDates.reserve(periods);
    accrualEndDates.reserve(periods);
    paymentDates.reserve(periods);
    dayCountFractions.reserve(periods);
    for (std::size_t i = 1; i < dates.size(); ++i) {
        accrualStartDates.push_back(dates[i - 1]);
        accrualEndDates.push_back(dates[i]);
        // A lagged payment date is already a business day of the pay calendar.
        paymentDates.push_back(payLag_ != 0 ? addBusinessDays(dates[i], payLag_, *payCalendar_)
                                            : adjustDate(dates[i], payAdjustment_, *payCalendar_));
        dayCountFractions.push_back(dayCounter_.fraction(dates[i - 1], dates[i]));
    }
}

void GeneratorSwap::SwapLeg::generate(date start, date end, std::vector<date>& accrualStartDates,
                                      std::vector<date>& accrualEndDates,
                                      std::vector<date>& paymentDates,
                                      std::vector<double>& dayCountFractions) const {
    SwapLegRules(*this).generate(start, end, accrualStartDates, accrualEndDates, paymentDates,
                                 dayCountFractions);
}

} // namespace tsr
