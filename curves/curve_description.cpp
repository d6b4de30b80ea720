#include "curves/curve_description.hpp"

#include "curves/bootstrap.hpp"

#include <cmath>
#include <stdexcept>
#include <utility>

namespace tsr {

// A NaN or infinite quote would only surface as a failed root search that names no
// instrument; refuse it up front. Upstream systems leave unquoted rows out of use that way.
void requireFiniteQuotes(const YieldCurveInstruments& rows, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const double quote = rows.quotes[i];
        if (rows.inUse[i] && !std::isfinite(quote)) {
            throw std::invalid_argument("Error, the quote of instrument " + std::to_string(i) +
                                        " (" + rows.generators[i] + " " + rows.tenors[i] +
                                        ") is not finite: " +
                                        (std::isnan(quote) ? "nan"
                                         : quote > 0       ? "inf"
                                                           : "-inf"));
        }
    }
}

std::shared_ptr<YieldCurve> buildCurve(CurveDescription description) {
    requireSameSize(description.instruments);
    requireFiniteQuotes(description.instruments, description.instruments.quotes.size());
    std::string interpolation =
        description.interpolation.value_or(description.cubicFrom ? "LogCubic" : "LinearLogDf");
    return std::make_shared<YieldCurve>(
        std::move(description.id), description.valueDate, std::move(description.currency),
        std::move(interpolation), description.instruments, description.cubicFrom.value_or(""));
}

} // namespace tsr
