#pragma once

#include "core/date.hpp"
#include "dates/day_counter.hpp"

#include <string_view>

namespace tsr {

class YieldCurve;

// Continuously compounded zero rate of a date, on the curve's own time (days / 365):
// -ln(df) / t. On and before the value date, where t <= 0, it is the limit as t -> 0+,
// the constant zero rate between the value date and the first pillar.
double zeroRate(const YieldCurve& curve, const date& d);

// Simply compounded forward rate from start to end: (df(start) / df(end) - 1) / tau, tau the
// day counter's fraction. end must come after start.
double forwardRate(const YieldCurve& curve, const date& start, const date& end,
                   const DayCounter& dayCounter);

// The day counter of a name the library accepts ("Act/360", "Act/365F", ..., any letter
// case); an unknown name fails with std::invalid_argument naming it.
DayCounter dayCounterNamed(std::string_view name);

} // namespace tsr
