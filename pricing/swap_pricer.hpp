#pragma once

#include "core/date.hpp"
#include "curves/yield_curve.hpp"
#include "pricing/model_discounted_cash_flow.hpp"

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

namespace tsr {

// The price of one swap on a curve that discounts and projects every leg, equal to the last
// bit to ModelDiscountedCashFlow::price on that single curve, for repeated use on curves that
// share the value date and pillar dates of the first one: a curve and its rebuilds from moved
// quotes. What the pillar rates do not decide is found once: where each date sits on the
// curve, accrual fraction times notional, each period's kind of rate, and the growth of the
// fixings of a running period.
class SwapPricer {
public:
    struct Values {
        double leg1;
        double leg2;
        double npv;
    };

    // Throws what ModelDiscountedCashFlow::price throws for the swap on this curve.
    SwapPricer(std::shared_ptr<const ProductInterestRateSwap> swap, const YieldCurve& curve,
               const FixingsMap& fixings);

    // `curve` must share the value date and pillar dates of the construction curve. `dfs`
    // is scratch space, reused across calls so that pricing allocates nothing.
    Values value(const YieldCurve& curve, std::vector<double>& dfs) const;

    // The dates the pricer reads, ascending.
    const std::vector<date>& dates() const { return dates_; }

    // Makes the pricer read its discount factors from a table shared by many pricers:
    // placeOfDay[d - first] is the place of date d in that table, or notShared. Every date of
    // dates() must have a place; value() then takes that table's factors.
    static constexpr std::uint32_t notShared = std::numeric_limits<std::uint32_t>::max();
    void shareDates(const date& first, std::span<const std::uint32_t> placeOfDay);

    // The values from the discount factors of the dates of dates() (or of the shared table).
    Values value(const double* dfs) const;

    const ProductInterestRateSwap& swap() const { return *swap_; }

private:
    enum class RateKind : std::uint8_t { Fixed, Zero, Forward, Running, RunningToday };
    // A period whose rate the curve does not decide (a fixed rate, or an index period that is
    // over): fraction x notional x (rate + margin), paid on `payment`.
    struct Constant {
        double amount;
        std::uint32_t payment;
    };
    // An index period wholly after the value date: its rate is the curve's forward.
    struct Forward {
        double fractionTimesNotional;
        double tau;
        std::uint32_t payment;
        std::uint32_t start;
        std::uint32_t end;
    };
    // An index period running over the value date.
    struct Running {
        double fractionTimesNotional;
        // The realised growth, or with today's fixing that growth carried to the next
        // business day.
        double growth;
        double tau;
        std::uint32_t payment;
        std::uint32_t end;
        std::uint32_t nextBusinessDay;
        bool today;
    };
    // Consecutive periods of one kind, so that each kind is summed in a tight loop while
    // the periods keep the order of the plain price's sum.
    struct Run {
        RateKind kind;
        std::uint32_t count;
    };
    struct Leg {
        bool isPaid = false;
        double margin = 0.0;
        std::vector<Run> runs;
        std::vector<Constant> constants;
        std::vector<Forward> forwards;
        std::vector<Running> running;
    };

    std::uint32_t slot(const date& d);
    double legValue(const Leg& leg, const double* dfs) const;

    std::shared_ptr<const ProductInterestRateSwap> swap_;
    std::array<Leg, 2> legs_;
    // The distinct dates read, ascending, with their places on the curve.
    std::vector<date> dates_;
    std::vector<YieldCurve::Point> points_;
    bool shared_ = false;
};

} // namespace tsr
