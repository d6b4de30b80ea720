#pragma once

#include "pricing/model_discounted_cash_flow.hpp"
#include "products/product_interest_rate_swap.hpp"

#include <cstddef>
#include <memory>

namespace tsr {

class YieldCurve;

// The leg whose rate the par rate solves for: the first fixed leg, or leg 2 (its margin)
// when both legs float.
std::size_t parLeg(const ProductInterestRateSwap& swap);

// Sum over the unsettled periods of the leg (paid after its discount curve's value date) of
// fraction x notional x discount factor: the leg's PV per unit of rate, before its sign.
double legAnnuity(const ProductInterestRateSwap::SwapLeg& leg, CurveMap& curves);

// The annuity of the par leg.
double annuity(const std::shared_ptr<const Product>& product, CurveMap& curves);

// The fixed rate of the par leg (its margin when both legs float) at which the model's NPV
// is zero. The NPV is linear in that rate with slope +-annuity, so the par rate is
// rate - NPV / slope, the NPV being the model's own.
double parRate(const std::shared_ptr<const Product>& product, CurveMap& curves,
               const FixingsMap& fixings);

// NPV change for a parallel move of every quote of leg 1's discount curve by one basis
// point: (NPV(+1bp) - NPV(-1bp)) / 2 on curves rebuilt from the moved quotes, every curve of
// the map replaced by the rebuilt one, as the key-rate risk does.
double dv01(const std::shared_ptr<const Product>& product, CurveMap& curves,
            const FixingsMap& fixings);

// One basis point in the units of the curve quotes (percent).
inline constexpr double basisPointInQuoteUnits = 0.01;

} // namespace tsr
