#pragma once

#include <boost/date_time/gregorian/gregorian_types.hpp>

namespace tsr {

// Proleptic Gregorian day number, years 1400 to 9999, plus the special values.
using date = boost::gregorian::date;

} // namespace tsr
