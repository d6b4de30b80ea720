#include "dates/date_arithmetic.hpp"

#include "core/shown_text.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/throw_exception.hpp>

#include <cstdint>
#include <stdexcept>

namespace tsr {

namespace {

using Unit = Tenor::Unit;

[[noreturn]] void throwBadYear() {
    boost::throw_exception(boost::gregorian::bad_year());
}

// d moved by n calendar days. Special values stay as they are. The date library adds day
// numbers unchecked and wraps far-off results into its 32-bit day number, so a result outside
// the years 1400 to 9999 is refused here with the library's own range error.
date moveByDays(date d, std::int64_t n) {
    if (d.is_special()) {
        return d + boost::gregorian::days(n);
    }
    static const std::int64_t first = date(1400, 1, 1).day_number();
    static const std::int64_t last = date(9999, 12, 31).day_number();
    const std::int64_t target = static_cast<std::int64_t>(d.day_number()) + n;
    if (target < first || target > last) {
        throwBadYear();
    }
    return d + boost::gregorian::days(n);
}

// Year and month from a signed month count, then the day clamped to that month's length.
// The year is checked before it is narrowed to the date library's 16-bit year type, so a
// far-off target fails with the library's own bad_year instead of wrapping around.
date fromMonthCount(std::int64_t months, unsigned day) {
    std::int64_t year = months / 12;
    std::int64_t month = months % 12;
    if (month < 0) {
        month += 12;
        --year;
    }
    if (year < 1400 || year > 9999) {
        throwBadYear();
    }
    const auto y = static_cast<unsigned short>(year);
    const auto m = static_cast<unsigned short>(month + 1);
    const unsigned short last = boost::gregorian::gregorian_calendar::end_of_month_day(y, m);
    return date(y, m, static_cast<unsigned short>(day < last ? day : last));
}

date moveByTenor(date d, Tenor tenor, int sign, const char* invalidArguments,
                 const char* programmingError) {
    const std::int64_t n = static_cast<std::int64_t>(sign) * tenor.amount();
    switch (tenor.unit()) {
    case Unit::Days:
        return moveByDays(d, n);
    case Unit::Weeks:
        return moveByDays(d, 7 * n);
    case Unit::Months: {
        const auto ymd = d.year_month_day();
        return fromMonthCount(12 * std::int64_t{ymd.year} + (ymd.month - 1) + n, ymd.day);
    }
    case Unit::Years: {
        const auto ymd = d.year_month_day();
        return fromMonthCount(12 * (std::int64_t{ymd.year} + n) + (ymd.month - 1), ymd.day);
    }
    default:
        break;
    }
    // Business days need a calendar; values past the enumeration are a programming error.
    if (static_cast<std::int32_t>(tenor.unit()) > static_cast<std::int32_t>(Unit::Years)) {
        throw std::runtime_error(programmingError);
    }
    throw std::runtime_error(invalidArguments);
}

// A year of days without a business day means the calendar has none: the walk stops there
// instead of running on, and each step stays within the years the date library holds.
constexpr int daysWithoutBusinessDay = 366;

date walkBusinessDays(date d, int count, int direction, const Calendar& calendar) {
    for (int found = 0; found < count; ++found) {
        const date from = d;
        int steps = 0;
        do {
            if (++steps > daysWithoutBusinessDay) {
                throw std::runtime_error("Error, calendar " + shownText(calendar.name()) +
                                         " has no business day within a year " +
                                         (direction > 0 ? "after " : "before ") +
                                         boost::gregorian::to_iso_extended_string(from) + ".");
            }
            d = moveByDays(d, direction);
        } while (!calendar.isBusinessDay(d));
    }
    return d;
}

const Calendar& requireCalendar(const std::shared_ptr<const Calendar>& calendar) {
    if (!calendar) {
        throw std::invalid_argument("Error, no calendar given.");
    }
    return *calendar;
}

} // namespace

date addTenor(date d, Tenor tenor) {
    return moveByTenor(d, tenor, 1, "Error, addTenor is called with invalid arguments.",
                       "Programming Error, addTenor.");
}

date subtractTenor(date d, Tenor tenor) {
    return moveByTenor(d, tenor, -1, "Error, subtractTenor is called with invalid arguments.",
                       "Programming Error, subtractTenor.");
}

date addBusinessDays(date d, int count, const Calendar& calendar) {
    return walkBusinessDays(d, count, 1, calendar);
}

date subtractBusinessDays(date d, int count, const Calendar& calendar) {
    return walkBusinessDays(d, count, -1, calendar);
}

date addBusinessDays(date d, int count, std::shared_ptr<const Calendar> calendar) {
    if (count <= 0) {
        return d;
    }
    return addBusinessDays(d, count, requireCalendar(calendar));
}

date subtractBusinessDays(date d, int count, std::shared_ptr<const Calendar> calendar) {
    if (count <= 0) {
        return d;
    }
    return subtractBusinessDays(d, count, requireCalendar(calendar));
}

date adjustDate(date d, BusinessDay convention, const Calendar& calendar) {
    if (convention == BusinessDay::NoAdjustment || calendar.isBusinessDay(d)) {
        return d;
    }
    switch (convention) {
    case BusinessDay::Following:
        return addBusinessDays(d, 1, calendar);
    case BusinessDay::Preceding:
        return subtractBusinessDays(d, 1, calendar);
    case BusinessDay::ModifiedFollowing: {
        const date following = addBusinessDays(d, 1, calendar);
        if (following.month() == d.month()) {
            return following;
        }
        // Roll back from d itself, not from the following date.
        return subtractBusinessDays(d, 1, calendar);
    }
    default:
        break;
    }
    throw std::logic_error("Error, programming error.");
}

date adjustDate(date d, BusinessDay convention, std::shared_ptr<const Calendar> calendar) {
    if (convention == BusinessDay::NoAdjustment) {
        return d;
    }
    return adjustDate(d, convention, requireCalendar(calendar));
}

std::optional<date> dateFromEpochDays(std::int64_t days) {
    static const date epoch(1970, 1, 1);
    static const std::int64_t first = (date(1400, 1, 1) - epoch).days();
    static const std::int64_t last = (date(9999, 12, 31) - epoch).days();
    if (days < first || days > last) {
        return std::nullopt;
    }
    return epoch + boost::gregorian::days(days);
}

std::int64_t epochDays(date d) {
    static const date epoch(1970, 1, 1);
    return (d - epoch).days();
}

} // namespace tsr
