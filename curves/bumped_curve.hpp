#pragma once

#include "curves/bootstrap.hpp"
#include "curves/yield_curve.hpp"

#include <cstddef>
#include <vector>

namespace tsr {

// A bootstrapped curve rebuilt with the quote of one instrument changed, equal to the last
// bit to the curve that the labelled constructor builds from the changed quotes, on every
// date up to a last pillar. Three facts of the bootstrap make the shortcuts exact: the solve
// of pillar k reads only pillars 0..k, so the pillars before the changed one keep their
// solved rates and those after the last pillar cannot matter on or before it; and a quote
// enters its instrument only as the fixed rate, so the schedules are reused. A spline curve
// is solved for all its pillars at once, from the base rates, to the solve's tolerance.
class BumpedCurve {
public:
    // base must come from the labelled constructor; lastPillar < its pillar count.
    BumpedCurve(const YieldCurve& base, std::size_t lastPillar);

    BumpedCurve(const BumpedCurve&) = delete;
    BumpedCurve& operator=(const BumpedCurve&) = delete;

    // Re-solves pillars k..lastPillar with instrument k quoted at `quote` (percent).
    void solve(std::size_t k, double quote);

    // Back to the base curve's rates.
    void reset();

    const YieldCurve& curve() const { return curve_; }

private:
    YieldCurve curve_;
    std::vector<double> baseRates_;
    std::vector<PillarPricer> pricers_;
    std::vector<double> quotes_;
    // Instrument names for the errors of a global solve.
    std::vector<std::string> names_;
    // Pillars from here to the last one differ from the base.
    std::size_t changedFrom_;
    // Some instrument reads a date after its pillar: bumps re-solve every pillar.
    bool looksAhead_ = false;
};

} // namespace tsr
