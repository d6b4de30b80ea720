#pragma once

#include <cstdint>
#include <string_view>

namespace tsr {

// Direction in which schedule dates are rolled: Backward from the end date
// (odd period first) or Forward from the start date (odd period last).
enum class ScheduleRoll : std::uint8_t { Backward = 0, Forward = 1 };

ScheduleRoll parseScheduleRoll(std::string_view name);

} // namespace tsr
