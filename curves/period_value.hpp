#pragma once

// The value of one coupon period: the compounded overnight rate of the period, from the
// growth of one unit over it, and the coupon that rate pays, discounted. Every path that
// values a period (the bootstrap, the curve Jacobian, the model, the daily table, the pricer,
// the book and the swap gradient) calls these, so that they agree to the bit by construction.
// The discount factors come from wherever the caller reads them: the curve, a bumped curve, a
// daily table or a pricer's precomputed slots.

namespace tsr::period {

// The simply compounded rate of a period over which one unit grows to `growth`.
inline double rate(double growth, double tau) {
    return (growth - 1.0) / tau;
}

// One business day of an overnight index: the growth so far carried over a fixing.
inline double compound(double growth, double fixing, double tau) {
    return (1.0 + fixing * tau) * growth;
}

// A period projected on the curve alone: it grows by DF(start) / DF(end).
inline double forwardRate(double dfStart, double dfEnd, double tau) {
    return rate(dfStart / dfEnd, tau);
}

// A period running over the value date v: the fixings realised over [start, v) grew one unit
// to `realised`, and the curve carries it from v to the end.
inline double runningRate(double realised, double dfEnd, double tau) {
    return rate(realised / dfEnd, tau);
}

// The same when today's fixing is known too: `realised` covers [start, h), h the next business
// day, and the curve carries it from h, whose discount factor is dfNext.
inline double runningRateFromNext(double realised, double dfNext, double dfEnd, double tau) {
    return rate(dfNext * (realised / dfEnd), tau);
}

// A coupon paid on a date with discount factor dfPayment: accrual is the fraction times the
// notional, and the margin is added to the rate.
inline double couponValue(double accrual, double rate, double margin, double dfPayment) {
    return accrual * (rate + margin) * dfPayment;
}

// A curve instrument's coupon, on a notional of one with the margin already in the rate.
inline double instrumentCoupon(double dfPayment, double rate, double fraction) {
    return dfPayment * rate * fraction;
}

// A period's rate with its partial derivatives in the discount factors it reads, in the
// order of the arguments (byFirst for the first discount factor, bySecond for the second if
// any), and the part of the rate that reads none of them.
struct RateAdjoint {
    double rate;
    double byFirst;
    double bySecond;
    double constant;
};

inline RateAdjoint forwardRateAdjoint(double dfStart, double dfEnd, double tau) {
    return {forwardRate(dfStart, dfEnd, tau), 1.0 / (dfEnd * tau), -dfStart / (dfEnd * dfEnd * tau),
            -1.0 / tau};
}

inline RateAdjoint runningRateAdjoint(double realised, double dfEnd, double tau) {
    return {runningRate(realised, dfEnd, tau), -realised / (dfEnd * dfEnd * tau), 0.0, -1.0 / tau};
}

inline RateAdjoint runningRateFromNextAdjoint(double realised, double dfNext, double dfEnd,
                                              double tau) {
    const double growth = realised / dfEnd;
    return {runningRateFromNext(realised, dfNext, dfEnd, tau), growth / tau,
            -dfNext * growth / (dfEnd * tau), -1.0 / tau};
}

} // namespace tsr::period
