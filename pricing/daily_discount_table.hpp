#pragma once

#include "core/date.hpp"
#include "dates/day_counter.hpp"
#include "pricing/model_discounted_cash_flow.hpp"

#include <array>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace tsr {

class YieldCurve;

// The discount factors of every day from a curve's value date to a last date, each equal to
// the curve's own to the last bit, so that a book of swaps on the curve reads its factors
// from an array instead of interpolating each date again.
class DailyDiscountTable {
public:
    // Index day counts of a swap's legs; none for a fixed leg.
    using IndexDays = std::array<std::optional<DayCounter>, 2>;
    using Growths = KnownGrowths;

    DailyDiscountTable() = default;
    // Sized for every day from valueDate to last but not filled: fill() then sets the days,
    // from several threads when their ranges do not overlap.
    DailyDiscountTable(date valueDate, date last);

    date valueDate() const { return valueDate_; }
    std::size_t days() const { return dfs_.size(); }
    // The factor of each day, from the value date on.
    std::span<const double> factors() const { return dfs_; }
    // Sets the factors of days [begin, end) from the value date; throws what the curve
    // throws for a date.
    void fill(const YieldCurve& curve, std::size_t begin, std::size_t end);

    // ModelDiscountedCashFlow::legValues of the swap on the single-curve map of the table's
    // curve, to the last bit; nothing when the swap needs what the table does not hold: a
    // leg discounted in another currency, a date past the table, or a running period whose
    // growth `growths` does not give.
    std::optional<LegValues> legValues(const ProductInterestRateSwap& swap,
                                       const IndexDays& indexDays, const Growths& growths) const;

private:
    date valueDate_;
    std::vector<double> dfs_;
};

} // namespace tsr
