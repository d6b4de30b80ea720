#include "pricing/daily_discount_table.hpp"

#include "curves/period_value.hpp"
#include "curves/yield_curve.hpp"

namespace tsr {

DailyDiscountTable::DailyDiscountTable(date valueDate, date last)
    : valueDate_(valueDate),
      dfs_(static_cast<std::size_t>(last < valueDate ? 0 : (last - valueDate).days()) + 1) {}

void DailyDiscountTable::fill(const YieldCurve& curve, std::size_t begin, std::size_t end) {
    date d = valueDate_ + boost::gregorian::days(static_cast<long>(begin));
    for (std::size_t day = begin; day < end; ++day, d += boost::gregorian::days(1)) {
        dfs_[day] = curve.df(curve.point(d));
    }
}

std::optional<LegValues> DailyDiscountTable::legValues(const ProductInterestRateSwap& swap,
                                                       const IndexDays& indexDays,
                                                       const Growths& growths) const {
    const date v = valueDate_;
    bool inTable = true;
    const auto df = [&](const date& d) {
        const long day = (d - v).days();
        if (day < 0 || static_cast<std::size_t>(day) >= dfs_.size()) {
            inTable = false;
            return 1.0;
        }
        return dfs_[static_cast<std::size_t>(day)];
    };
    // The operations of ModelDiscountedCashFlow::legValues, in its order.
    std::array<double, 2> pvs{};
    for (std::size_t k = 0; k < 2; ++k) {
        const ProductInterestRateSwap::SwapLeg& leg = swap.legs()[k];
        if (leg.currency != swap.legs()[0].currency || (!leg.isFixed && !indexDays[k])) {
            return std::nullopt;
        }
        double pv = 0.0;
        for (std::size_t i = 0; i < leg.paymentDates.size(); ++i) {
            double rate = leg.rate;
            if (!leg.isFixed) {
                const date& start = leg.accrualStartDates[i];
                const date& end = leg.accrualEndDates[i];
                const double tau = indexDays[k]->fraction(start, end);
                if (v >= end || tau == 0.0) {
                    rate = 0.0;
                } else if (start >= v) {
                    rate = period::forwardRate(df(start), df(end), tau);
                } else {
                    const RealisedGrowth* realised = growths(k, start);
                    if (realised == nullptr) {
                        return std::nullopt;
                    }
                    if (realised->hasToday) {
                        // Today's fixing covers v to the next business day.
                        rate = period::runningRateFromNext(
                            realised->todayGrowth, df(realised->nextBusinessDay), df(end), tau);
                    } else {
                        rate = period::runningRate(realised->growth, df(end), tau);
                    }
                }
            }
            if (v < leg.paymentDates[i]) {
                pv += period::couponValue(leg.dayCountFractions[i] * leg.notional, rate, leg.margin,
                                          df(leg.paymentDates[i]));
            }
        }
        if (!inTable) {
            return std::nullopt;
        }
        pvs[k] = leg.isPaid ? -pv : pv;
    }
    double npv = 0.0;
    npv += pvs[0];
    npv += pvs[1];
    return LegValues{pvs[0], pvs[1], npv};
}

} // namespace tsr
