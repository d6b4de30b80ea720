#pragma once

#include "core/date.hpp"

#include <array>
#include <cstdint>
#include <string>

namespace tsr {

// Answers whether a date is a business day. Immutable once built and shared by pointer.
class Calendar {
public:
    explicit Calendar(std::string name);
    virtual ~Calendar();

    virtual bool isBusinessDay(const date& d) const = 0;

    // The repository key.
    const std::string& name() const { return name_; }

private:
    std::string name_;
};

// Weekend days by day of week, index 0 = Sunday .. 6 = Saturday; a set flag marks a weekend day.
struct WeekdaySet {
    std::array<std::uint8_t, 7> flags{};

    bool contains(int dayOfWeek) const { return flags[static_cast<std::size_t>(dayOfWeek)] != 0; }
};

// The usual Saturday-and-Sunday weekend.
inline constexpr WeekdaySet saturdaySundayWeekend{{1, 0, 0, 0, 0, 0, 1}};

} // namespace tsr
