#pragma once

#include "core/date.hpp"
#include "curves/period_value.hpp"
#include "curves/yield_curve.hpp"

#include <algorithm>

#include <cstddef>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tsr {

class GeneratorFuture;

// A futures row as the curve prices it: the contract's rate in percent, from the fixings of
// its reference period published before the value date (and on it, when given) and the
// curve's overnight forwards for the rest, each over its business day on the index calendar
// with the index day count.

class CurveFuture {
public:
    // `what` names the row in errors, such as a missing fixing of a period already begun.
    CurveFuture(const date& valueDate, const GeneratorFuture& generator,
                const std::string& contractMonth, const CurveFixings& fixings,
                const std::string& what);

    date start() const { return start_; }
    date end() const { return end_; }
    // The last date whose discount factor the rate reads.
    date lastDate() const { return lastDate_; }

    // The rate the curve implies, in percent.
    double rate(const YieldCurve& curve) const;

    // The same rate from the discount factors `df(date)` gives, on the dates of dates().
    template <class Df> double rateWith(Df&& df) const {
        return rateWithTerms([&](std::size_t i, bool end) { return df(termDate(i, end)); });
    }

    // The same from `dfOfTerm(i, end)`, the discount factor at term i's start or end.
    template <class DfOfTerm> double rateWithTerms(DfOfTerm&& dfOfTerm) const {
        double sum = realised_;
        for (std::size_t i = 0; i < terms_.size(); ++i) {
            const Term& term = terms_[i];
            const double growth = compounded_ ? growth_ : 1.0;
            sum += term.weight * period::forwardRate(growth * dfOfTerm(i, false), dfOfTerm(i, true),
                                                     term.fraction);
        }
        return 100.0 * sum;
    }
    std::size_t termCount() const { return terms_.size(); }
    const date& termDate(std::size_t i, bool end) const {
        return end ? terms_[i].to : terms_[i].from;
    }

    // The dates whose discount factors the rate reads, ascending, once each.
    std::vector<date> dates() const;

    // Adds d(rate)/d(pillar rate) x adjoint to row[pillar] and returns the rate.
    double differentiate(const YieldCurve& curve, double adjoint, double* row) const;

private:
    // A forward over [from, to], weighted; a compounded contract has one, from the last
    // realised day to the end, with `growth` the compounded fixings before it.
    struct Term {
        date from;
        date to;
        double weight;
        double fraction;
    };

    date start_;
    date end_;
    date lastDate_;
    bool compounded_;
    double realised_ = 0.0;
    double growth_ = 1.0;
    std::vector<Term> terms_;
};

} // namespace tsr
