#pragma once

#include <cstdint>
#include <string_view>

namespace tsr {

// How a date that is not a business day is rolled.
enum class BusinessDay : std::uint8_t {
    NoAdjustment = 0,
    Following = 1,
    ModifiedFollowing = 2,
    Preceding = 3
};

// "No Adjustment", "Following", "Modified Following", "Preceding", in any letter case.
// Throws std::invalid_argument "empty string" or "unknown value".
BusinessDay parseBusinessDay(std::string_view name);

} // namespace tsr
