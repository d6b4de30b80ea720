#include "curves/bumped_curve.hpp"

#include "curves/global_solve.hpp"

#include <stdexcept>
#include <string>

namespace tsr {

BumpedCurve::BumpedCurve(const YieldCurve& base, std::size_t lastPillar)
    : curve_(base.fromPillars()), baseRates_(base.pillarRates()), changedFrom_(baseRates_.size()) {
    const auto& instruments = base.pillarInstruments();
    if (instruments.size() != baseRates_.size() || lastPillar >= baseRates_.size()) {
        throw std::logic_error("Error, the curve has " + std::to_string(baseRates_.size()) +
                               " pillars and " + std::to_string(instruments.size()) +
                               " instruments; cannot re-solve up to pillar " +
                               std::to_string(lastPillar) + ".");
    }
    // On a spline, or when an instrument pays after its pillar, every pillar moves with every
    // quote.
    looksAhead_ = base.looksAhead();
    const std::size_t solved =
        curve_.solvedGlobally() || looksAhead_ ? baseRates_.size() - 1 : lastPillar;
    pricers_.reserve(solved + 1);
    quotes_.reserve(solved + 1);
    if (curve_.solvedGlobally()) {
        const YieldCurveInstruments& rows = base.instrumentSet();
        for (const std::size_t row : base.pillarRows()) {
            names_.push_back(rows.generators[row] + " " + rows.tenors[row]);
        }
    }
    for (std::size_t k = 0; k <= solved; ++k) {
        pricers_.emplace_back(curve_, k, instruments[k], k == 0 ? nullptr : &pricers_.back());
        pricers_.back().setQuote(instruments[k].quote);
        quotes_.push_back(instruments[k].quote);
    }
}

void BumpedCurve::solve(std::size_t k, double quote) {
    reset();
    changedFrom_ = k;
    PillarPricer& bumped = pricers_.at(k);
    bumped.setQuote(quote);
    if (curve_.solvedGlobally()) {
        changedFrom_ = 0;
        std::vector<double> quotes = quotes_;
        quotes[k] = quote;
        try {
            solvePillarsTogether(curve_, pricers_, quotes,
                                 [&](std::size_t i) { return names_[i]; });
        } catch (...) {
            bumped.setQuote(quotes_[k]);
            throw;
        }
        bumped.setQuote(quotes_[k]);
        return;
    }
    if (looksAhead_) {
        changedFrom_ = 0; // an instrument paying after its pillar moves the pillars before
    }
    solvePillars(curve_, pricers_, k);
    bumped.setQuote(quotes_[k]);
}

void BumpedCurve::reset() {
    if (curve_.solvedGlobally()) {
        if (changedFrom_ < baseRates_.size()) {
            curve_.update(baseRates_);
        }
        changedFrom_ = baseRates_.size();
        return;
    }
    for (std::size_t i = changedFrom_; i < pricers_.size(); ++i) {
        curve_.updateRate(i, baseRates_[i]);
    }
    changedFrom_ = baseRates_.size();
}

} // namespace tsr
