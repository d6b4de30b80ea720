#include "dates/day_counter.hpp"

#include "dates/convention_name.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

namespace tsr {

namespace {

using Convention = DayCounter::Convention;

constexpr std::array<std::pair<Convention, std::string_view>, 5> dayCountNames{{
    {Convention::Act360, "Act/360"},
    {Convention::Act365F, "Act/365F"},
    {Convention::ActAct, "Act/Act"},
    {Convention::Thirty360, "30/360"},
    {Convention::ThirtyE360, "30E/360"},
}};

double days(const date& d1, const date& d2) {
    return static_cast<double>((d2 - d1).days());
}

double yearBasis(int year) {
    return boost::gregorian::gregorian_calendar::is_leap_year(static_cast<unsigned short>(year))
               ? 366.0
               : 365.0;
}

struct Ymd {
    int year;
    int month;
    int day;
};

Ymd ymd(const date& d) {
    const auto parts = d.year_month_day();
    return {parts.year, parts.month, parts.day};
}

// The 30-day formula on already adjusted days of month.
double thirty360(const Ymd& a, int day1, const Ymd& b, int day2) {
    return (360.0 * (b.year - a.year) + 30.0 * (b.month - a.month) + (day2 - day1)) / 360.0;
}

} // namespace

std::string DayCounter::knownNames() {
    std::string names;
    for (const auto& entry : dayCountNames) {
        names += (names.empty() ? "" : ", ") + std::string(entry.second);
    }
    return names;
}

DayCounter::DayCounter(std::string_view name)
    : convention_(lookupConventionName(name, dayCountNames)) {}

double DayCounter::fraction(date d1, date d2) const {
    switch (convention_) {
    case Convention::Act360:
        return days(d1, d2) / 360.0;
    case Convention::Act365F:
        return days(d1, d2) / 365.0;
    case Convention::ActAct:
        return actActFraction(d1, d2);
    case Convention::Thirty360:
        return dayCount30360(d1, d2);
    case Convention::ThirtyE360:
        return dayCount30E360(d1, d2);
    }
    throw std::logic_error("Error, programming error.");
}

double dayCount30360(const date& d1, const date& d2) {
    const Ymd a = ymd(d1);
    const Ymd b = ymd(d2);
    const int day1 = std::min(a.day, 30);
    const int day2 = (b.day == 31 && a.day >= 30) ? 30 : b.day;
    return thirty360(a, day1, b, day2);
}

double dayCount30E360(const date& d1, const date& d2) {
    const Ymd a = ymd(d1);
    const Ymd b = ymd(d2);
    return thirty360(a, std::min(a.day, 30), b, std::min(b.day, 30));
}

double actActFraction(const date& d1, const date& d2) {
    const int year1 = d1.year();
    const int year2 = d2.year();
    if (year1 >= year2) {
        return days(d1, d2) / yearBasis(year2);
    }
    double sum = 0.0;
    date a = d1;
    for (int year = year1; year < year2; ++year) {
        const date nextYear(static_cast<unsigned short>(year + 1), 1, 1);
        sum += days(a, nextYear) / yearBasis(year);
        a = nextYear;
    }
    return sum + days(a, d2) / yearBasis(year2);
}

} // namespace tsr
