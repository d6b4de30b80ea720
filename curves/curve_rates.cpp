#include "curves/curve_rates.hpp"

#include "core/shown_text.hpp"
#include "curves/period_value.hpp"
#include "curves/yield_curve.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>

#include <stdexcept>
#include <string>
#include <vector>

namespace tsr {

double zeroRate(const YieldCurve& curve, const date& d) {
    const std::vector<double>& times = curve.pillarTimes();
    if (times.empty()) {
        throw std::runtime_error("Error, the curve has no pillars.");
    }
    const double t = curveTime(curve.valueDate(), d);
    if (t > 0.0) {
        return curve.logDf(t) / t;
    }
    return curve.shortRate();
}

double forwardRate(const YieldCurve& curve, const date& start, const date& end,
                   const DayCounter& dayCounter) {
    if (!(start < end)) {
        throw std::invalid_argument(
            "Error, the forward period ends on " + boost::gregorian::to_iso_extended_string(end) +
            ", not after its start " + boost::gregorian::to_iso_extended_string(start) + ".");
    }
    const double tau = dayCounter.fraction(start, end);
    if (!(tau > 0.0)) {
        // 30/360 can give a zero fraction for a period of one or two days.
        throw std::invalid_argument("Error, the forward period from " +
                                    boost::gregorian::to_iso_extended_string(start) + " to " +
                                    boost::gregorian::to_iso_extended_string(end) +
                                    " has a zero day count fraction.");
    }
    return period::forwardRate(curve.df(start), curve.df(end), tau);
}

DayCounter dayCounterNamed(std::string_view name) {
    try {
        return DayCounter(name);
    } catch (const std::invalid_argument&) {
        throw std::invalid_argument("Error, unknown day count '" + shownText(name) +
                                    "' (known: " + DayCounter::knownNames() + ").");
    }
}

} // namespace tsr
