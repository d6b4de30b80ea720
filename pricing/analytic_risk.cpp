#include "pricing/analytic_risk.hpp"

#include "core/shown_text.hpp"
#include "curves/curve_jacobian.hpp"
#include "curves/yield_curve.hpp"
#include "pricing/swap_gradient.hpp"

#include <algorithm>
#include <stdexcept>

namespace tsr {

namespace {

const YieldCurve& discountCurveOf(const ProductInterestRateSwap& swap, const CurveMap& curves) {
    const std::string& currency = swap.legs()[0].currency;
    const auto found = curves.find(currency);
    if (found == curves.end() || found->second == nullptr) {
        throw std::runtime_error("No discount curve is provided for currency " +
                                 shownText(currency));
    }
    return *found->second;
}

} // namespace

KeyRateRisk analyticRisk(const ProductInterestRateSwap& swap, const CurveMap& curves,
                         const FixingsMap& fixings) {
    const YieldCurve& base = discountCurveOf(swap, curves);
    const YieldCurveInstruments& instruments = base.instrumentSet();
    const std::size_t count = instruments.tenors.size();
    KeyRateRisk result{instruments.tenors, std::vector<double>(count, 0.0),
                       std::vector<double>(count, 0.0), std::vector<double>(count, 0.0)};
    analyticRisk(swap, curves, fixings, result.leg1, result.leg2, result.net);
    return result;
}

void analyticRisk(const ProductInterestRateSwap& swap, const CurveMap& curves,
                  const FixingsMap& fixings, std::span<double> leg1Risk, std::span<double> leg2Risk,
                  std::span<double> netRisk, const KnownGrowths* known) {
    const YieldCurve& base = discountCurveOf(swap, curves);
    const std::size_t count = base.instrumentSet().tenors.size();
    if (leg1Risk.size() != count || leg2Risk.size() != count || netRisk.size() != count) {
        throw std::invalid_argument("Error, the risk has one entry per curve instrument.");
    }
    std::fill(leg1Risk.begin(), leg1Risk.end(), 0.0);
    std::fill(leg2Risk.begin(), leg2Risk.end(), 0.0);
    std::fill(netRisk.begin(), netRisk.end(), 0.0);

    const std::size_t moving = movingPillars(base, swap.lastDate());
    if (moving == 0) {
        return;
    }
    thread_local SwapGradient gradient;
    gradient.compute(swap, curves, fixings, base, known);
    riskOfGradients(base, moving, gradient.gradient(0), gradient.gradient(1), leg1Risk, leg2Risk,
                    netRisk);
}

std::size_t movingPillars(const YieldCurve& curve, const date& horizon) {
    // As with bumping: the first pillar, and each pillar whose predecessor lies before the
    // swap's last date, can move the price; the later ones cannot. Pillars solved together
    // each move with every quote.
    const std::vector<date>& pillars = curve.pillarDates();
    const std::size_t rows = curve.pillarRows().size();
    std::size_t moving = curve.pillarsTogether() ? rows : 0;
    while (moving < rows && (moving == 0 || pillars[moving - 1] < horizon)) {
        ++moving;
    }
    return moving;
}

void riskOfGradients(const YieldCurve& base, std::size_t moving, std::span<const double> leg1,
                     std::span<const double> leg2, std::span<double> leg1Risk,
                     std::span<double> leg2Risk, std::span<double> netRisk) {
    const CurveJacobian& jacobian = base.jacobian();
    const std::vector<std::size_t>& rows = base.pillarRows();
    const std::size_t n = base.pillarDates().size();
    const bool global = base.pillarsTogether();
    for (std::size_t k = 0; k < moving; ++k) {
        const std::size_t m = rows[k];
        double s1 = 0.0;
        double s2 = 0.0;
        // Quote k moves pillars k and later only, unless the pillars are solved together.
        for (std::size_t i = global ? 0 : k; i < n; ++i) {
            const double dRate = jacobian(i, m);
            s1 += leg1[i] * dRate;
            s2 += leg2[i] * dRate;
        }
        leg1Risk[m] = s1;
        leg2Risk[m] = s2;
        netRisk[m] = s1 + s2;
    }
}

ObjectTree analyticRiskTree(const std::shared_ptr<const Product>& product, const CurveMap& curves,
                            const FixingsMap& fixings) {
    const auto* swap = dynamic_cast<const ProductInterestRateSwap*>(product.get());
    if (swap == nullptr) {
        throw std::runtime_error("Unsupported product.");
    }
    return toTree(analyticRisk(*swap, curves, fixings));
}

} // namespace tsr
