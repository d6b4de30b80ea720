#include "curves/bumped_curve.hpp"

#include <stdexcept>
#include <string>

namespace tsr {

BumpedCurve::BumpedCurve(const YieldCurve& base, std::size_t lastPillar)
    : curve_(base.valueDate(), base.pillarDates(), base.pillarRates(), base.interpolationKind(),
             base.turns()),
      baseRates_(base.pillarRates()), changedFrom_(baseRates_.size()) {
    const auto& instruments = base.pillarInstruments();
    if (instruments.size() != baseRates_.size() || lastPillar >= baseRates_.size()) {
        throw std::logic_error("Error, the curve has " + std::to_string(baseRates_.size()) +
                               " pillars and " + std::to_string(instruments.size()) +
                               " instruments; cannot re-solve up to pillar " +
                               std::to_string(lastPillar) + ".");
    }
    looksAhead_ = base.looksAhead();
    if (looksAhead_) {
        lastPillar = instruments.size() - 1; // every pillar is solved together
    }
    pricers_.reserve(lastPillar + 1);
    quotes_.reserve(lastPillar + 1);
    for (std::size_t k = 0; k <= lastPillar; ++k) {
        pricers_.emplace_back(curve_, k, instruments[k]);
        pricers_.back().setQuote(instruments[k].quote);
        quotes_.push_back(instruments[k].quote);
    }
}

void BumpedCurve::solve(std::size_t k, double quote) {
    reset();
    changedFrom_ = k;
    PillarPricer& bumped = pricers_.at(k);
    bumped.setQuote(quote);
    if (looksAhead_) {
        changedFrom_ = 0; // an instrument paying after its pillar moves the pillars before
    }
    solvePillars(curve_, pricers_, k);
    bumped.setQuote(quotes_[k]);
}

void BumpedCurve::reset() {
    for (std::size_t i = changedFrom_; i < pricers_.size(); ++i) {
        curve_.updateRate(i, baseRates_[i]);
    }
    changedFrom_ = baseRates_.size();
}

} // namespace tsr
