#include "dates/single_calendar.hpp"

#include <algorithm>
#include <utility>

namespace tsr {

namespace {

// Day of week, 0 = Sunday, straight from the day number: day 0 of the date library's count
// was a Monday. This skips the year-month-day conversion that date::day_of_week goes through.
int dayOfWeek(const date& d) {
    return static_cast<int>((d.day_number() + 1) % 7);
}

// Lists spanning more days than this are searched instead of tabulated.
constexpr std::int64_t maxTabulatedDays = 200 * 366;

} // namespace

SingleCalendar::SingleCalendar(std::string name, WeekdaySet weekend,
                               const std::vector<date>& holidays,
                               const std::vector<date>& businessDays)
    : Calendar(std::move(name)), weekend_(weekend), holidays_(holidays),
      businessDays_(businessDays) {
    std::sort(holidays_.begin(), holidays_.end());
    std::sort(businessDays_.begin(), businessDays_.end());

    // Schedule generation asks for every date it rolls, so the days that the lists cover
    // are answered from a table of bits built with the listed rule itself.
    std::vector<date> listed;
    for (const auto* dates : {&holidays_, &businessDays_}) {
        for (const date& d : *dates) {
            if (!d.is_special()) {
                listed.push_back(d);
            }
        }
    }
    if (listed.empty()) {
        return;
    }
    const auto [first, last] = std::minmax_element(listed.begin(), listed.end());
    const std::int64_t span = static_cast<std::int64_t>(last->day_number()) -
                              static_cast<std::int64_t>(first->day_number()) + 1;
    if (span > maxTabulatedDays) {
        return;
    }
    firstTabulated_ = first->day_number();
    tabulatedDays_ = static_cast<std::uint32_t>(span);
    open_.assign((tabulatedDays_ + 63) / 64, 0);
    date d = *first;
    for (std::uint32_t n = 0; n < tabulatedDays_; ++n, d += boost::gregorian::days(1)) {
        if (listedRule(d)) {
            open_[n / 64] |= std::uint64_t{1} << (n % 64);
        }
    }
}

SingleCalendar::SingleCalendar(std::string name, WeekdaySet weekend,
                               const std::vector<date>& holidays,
                               const std::vector<date>& businessDays,
                               std::vector<HolidaySpan> coverage)
    : SingleCalendar(std::move(name), weekend, holidays, businessDays) {
    coverage_ = std::move(coverage);
}

std::shared_ptr<SingleCalendar> SingleCalendar::extended(const std::vector<date>& added,
                                                         WeekdaySet weekend) const {
    std::vector<date> real;
    for (const date& d : added) {
        if (!d.is_special()) {
            real.push_back(d);
        }
    }
    if (real.empty()) {
        return extended(added, weekend, HolidaySpan{0, -1, HolidaySource::User});
    }
    const auto [first, last] = std::minmax_element(real.begin(), real.end());
    return extended(added, weekend, HolidaySpan{first->year(), last->year(), HolidaySource::User});
}

std::shared_ptr<SingleCalendar> SingleCalendar::extended(const std::vector<date>& added,
                                                         WeekdaySet weekend,
                                                         HolidaySpan span) const {
    std::vector<date> holidays = holidays_;
    holidays.insert(holidays.end(), added.begin(), added.end());
    std::sort(holidays.begin(), holidays.end());
    holidays.erase(std::unique(holidays.begin(), holidays.end()), holidays.end());
    std::vector<HolidaySpan> coverage = this->coverage();
    // An empty span (no dates) records nothing.
    if (span.firstYear <= span.lastYear) {
        coverage.push_back(span);
    }
    return std::make_shared<SingleCalendar>(name(), weekend, holidays, businessDays_,
                                            std::move(coverage));
}

std::vector<HolidaySpan> SingleCalendar::coverage() const {
    if (!coverage_.empty()) {
        return coverage_;
    }
    std::vector<HolidaySpan> derived;
    for (const date& d : holidays_) {
        if (d.is_special()) {
            continue;
        }
        if (derived.empty()) {
            derived.push_back({d.year(), d.year(), HolidaySource::User});
        }
        derived.front().lastYear = d.year();
    }
    return derived;
}

int SingleCalendar::lastCoveredYear() const {
    int last = 0;
    for (const HolidaySpan& span : coverage()) {
        last = std::max(last, span.lastYear);
    }
    return last;
}

bool SingleCalendar::listedRule(const date& d) const {
    if (std::binary_search(businessDays_.begin(), businessDays_.end(), d)) {
        return true;
    }
    if (std::binary_search(holidays_.begin(), holidays_.end(), d)) {
        return false;
    }
    return !weekend_.contains(d.is_special() ? d.day_of_week().as_number() : dayOfWeek(d));
}

bool SingleCalendar::isBusinessDay(const date& d) const {
    if (d.is_special()) {
        return listedRule(d);
    }
    // Unsigned, so that days before the table wrap around past its end.
    const std::uint32_t n = d.day_number() - firstTabulated_;
    if (n < tabulatedDays_) {
        return ((open_[n / 64] >> (n % 64)) & 1U) != 0;
    }
    if (tabulatedDays_ == 0 && (!holidays_.empty() || !businessDays_.empty())) {
        return listedRule(d);
    }
    // Outside the table no list has an entry: the weekend decides.
    return !weekend_.contains(dayOfWeek(d));
}

} // namespace tsr
