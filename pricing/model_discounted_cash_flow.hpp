#pragma once

#include "core/date.hpp"
#include "core/object_tree.hpp"
#include "pricing/key_rate_risk.hpp"
#include "products/product.hpp"
#include "products/product_interest_rate_swap.hpp"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tsr {

class DayCounter;
class OisIndex;
class YieldCurve;

// Curve name -> borrowed curve. A currency names the discount curve of that
// currency, an index label the estimation curve of that index.
using CurveMap = std::unordered_map<std::string, const YieldCurve*>;

// Index label -> (fixing dates, fixing values as decimals), in any date order.
using FixingsMap =
    std::unordered_map<std::string, std::pair<std::vector<date>, std::vector<double>>>;

// The projected rate of every period of a leg, without the margin: the fixed
// rate, or the compounded overnight rate from fixings and the estimation curve.
std::vector<double> calculateRates(const ProductInterestRateSwap::SwapLeg& leg, CurveMap& curves,
                                   const FixingsMap& fixings);

// The discount factor of every payment date of a leg.
std::vector<double> calculateDiscountFactors(const ProductInterestRateSwap::SwapLeg& leg,
                                             CurveMap& curves);

// The one curve that discounts under the first leg's currency and projects every floating
// leg's index: how a swap is priced on a single curve.
CurveMap singleCurveMap(const ProductInterestRateSwap& swap, const YieldCurve& curve);

// What the fixings decide of a floating period that started before the value date v: the
// growth of the realised fixings on the index calendar's business days in [start, v), and,
// when today's fixing is known, that growth carried on to the next business day h.
struct RealisedGrowth {
    double growth = 1.0;
    bool hasToday = false;
    double todayGrowth = 0.0;
    date nextBusinessDay;
};

// The realised growth of the running period of a leg (0 or 1) that starts on a date, when
// it was found beforehand for many trades; null to have it found.
using KnownGrowths = std::function<const RealisedGrowth*(std::size_t leg, const date& start)>;

// Throws the pricing errors of a running period: no fixings for the index, a fixing missing
// on a business day, dates and values of different lengths.
RealisedGrowth realisedGrowth(const ProductInterestRateSwap::SwapLeg& leg, const OisIndex& index,
                              const DayCounter& dayCounter, const FixingsMap& fixings, date start,
                              date v);

// The present values of a swap's legs and their sum, signed as in the price.
struct LegValues {
    double leg1 = 0.0;
    double leg2 = 0.0;
    double npv = 0.0;
};

// The priced periods of one leg, parallel to its schedule.
struct LegCashFlows {
    std::vector<double> discountFactors;
    // Fixed rate, or the projected index rate without the margin.
    std::vector<double> rates;
    std::vector<double> flows;
    std::vector<double> presentValues;
};

// A quote that bump risk moves: the curve instrument and the pillar it makes.
struct QuoteBump {
    std::size_t instrument = 0;
    std::size_t pillar = 0;
};

// Discounted cash flow valuation of swaps.
class ModelDiscountedCashFlow {
public:
    // Typed forms of price, risk and cashflows; the tree forms wrap them.
    static LegValues legValues(const ProductInterestRateSwap& swap, CurveMap& curves,
                               const FixingsMap& fixings);
    static KeyRateRisk bumpRisk(const ProductInterestRateSwap& swap, CurveMap& curves,
                                const FixingsMap& fixings);
    // The instruments of a curve that make a pillar, in order.
    static std::vector<QuoteBump> pillarQuotes(const YieldCurve& curve);
    // Whether a bump can move the price of a swap whose last date is `horizon`: it moves the
    // first pillar, or a pillar whose predecessor lies before that date.
    static bool bumpReaches(const QuoteBump& bump, const std::vector<date>& pillars,
                            const date& horizon) {
        return bump.pillar == 0 || pillars[bump.pillar - 1] < horizon;
    }
    static std::array<LegCashFlows, 2> legCashFlows(const ProductInterestRateSwap& swap,
                                                    CurveMap& curves, const FixingsMap& fixings);

    // "Leg1 PV", "Leg2 PV" and "NPV"; received legs count positively.
    static ObjectTree price(std::shared_ptr<const Product> product, CurveMap& curves,
                            const FixingsMap& fixings);

    // Key-rate risk: per curve instrument, the central difference of the leg
    // values and the NPV under a bump of its quote, the curve rebuilt each time.
    static ObjectTree risk(std::shared_ptr<const Product> product, CurveMap& curves,
                           const FixingsMap& fixings);

    // Every period of both legs with its discount factor, rate and cash flow.
    static ObjectTree cashflows(std::shared_ptr<const Product> product, CurveMap& curves,
                                const FixingsMap& fixings);

    // Quote bump of the key-rate risk, in quote units (percent).
    static constexpr double bumpSize = 0.0001;
};

} // namespace tsr
