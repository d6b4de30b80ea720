#pragma once

#include <cstddef>
#include <vector>

namespace tsr {

class ProductInterestRateSwap;
class YieldCurve;

// Adds d(value)/d(pillar rates) of a curve instrument, as the bootstrap prices it with the
// fixed rate of its first leg set by `quote` (percent), to row (one entry per pillar);
// returns d(value)/d(quote).
double instrumentDerivatives(const YieldCurve& curve, const ProductInterestRateSwap& swap,
                             double quote, double* row);

// Sensitivity of a bootstrapped curve's pillar zero rates (continuously compounded,
// decimals) to its instrument quotes (percent): one row per pillar, one column per
// instrument of the input, in input order. Instruments that make no pillar (not in use, or
// deposits) have zero columns; a curve made from pillars has no columns.
//
// Pillar k solves P_k(r_0..r_k; q_k) = 0, so by the implicit function theorem
// dr/dq = -(dP/dr)^-1 dP/dq, with dP/dq diagonal and dP/dr lower triangular when instrument k
// reads no date past its own pillar; it is full when the curve is solved globally or an
// instrument pays after its pillar. Both come from the curve-construction price the bootstrap
// solves, differentiated by one reverse pass over each instrument's periods.
class CurveJacobian {
public:
    explicit CurveJacobian(const YieldCurve& curve);

    std::size_t pillars() const { return pillars_; }
    std::size_t instruments() const { return instruments_; }

    // d(zero rate of the pillar)/d(quote of the instrument in input order).
    double operator()(std::size_t pillar, std::size_t instrument) const {
        return values_[pillar * instruments_ + instrument];
    }

    // Row-major, pillars() x instruments().
    const std::vector<double>& values() const { return values_; }

private:
    std::size_t pillars_;
    std::size_t instruments_;
    std::vector<double> values_;
};

} // namespace tsr
