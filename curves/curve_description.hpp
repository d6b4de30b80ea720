#pragma once

#include "core/date.hpp"
#include "curves/yield_curve.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace tsr {

// Everything a curve is built from, read and typed: its header and its instrument rows by
// column (generator labels, tenor or label cells, quotes in percent, use flags, the dates of
// dated swaps, futures convexities), turns and fixings.
struct CurveDescription {
    std::string id;
    std::string currency;
    date valueDate;
    // Absent: "LinearLogDf", or "LogCubic" when `cubicFrom` is given.
    std::optional<std::string> interpolation;
    // A tenor from the value date or a YYYY-MM-DD date.
    std::optional<std::string> cubicFrom;
    YieldCurveInstruments instruments;
};

// Refuses a used row whose quote is NaN or infinite, naming the row; rows out of use may carry
// anything. Only the first `n` rows are read.
void requireFiniteQuotes(const YieldCurveInstruments& rows, std::size_t n);

// The curve of a description: equal column lengths and finite used quotes, then the bootstrap.
std::shared_ptr<YieldCurve> buildCurve(CurveDescription description);

} // namespace tsr
