#pragma once

#include "core/date.hpp"

#include <cstdint>
#include <string>
#include <string_view>

namespace tsr {

// Turns two dates into a year fraction under a day count convention.
class DayCounter {
public:
    enum class Convention : std::uint8_t {
        Act360 = 0,
        Act365F = 1,
        ActAct = 2,
        Thirty360 = 3,
        ThirtyE360 = 4
    };

    // "Act/360", "Act/365F", "Act/Act", "30/360", "30E/360", in any letter case.
    // Throws std::invalid_argument "empty string" or "unknown value".
    explicit DayCounter(std::string_view name);
    explicit DayCounter(Convention convention) : convention_(convention) {}

    Convention convention() const { return convention_; }

    // The accepted names, comma separated, for error messages.
    static std::string knownNames();

    // Negative when d2 is before d1.
    double fraction(date d1, date d2) const;

private:
    Convention convention_;
};

// 30/360: day 31 becomes 30 at the start, and at the end only when the start was moved too.
double dayCount30360(const date& d1, const date& d2);
// 30E/360: day 31 becomes 30 at both ends.
double dayCount30E360(const date& d1, const date& d2);
// Act/Act split by calendar year: each day counts in the basis (365 or 366) of its own year.
double actActFraction(const date& d1, const date& d2);

} // namespace tsr
