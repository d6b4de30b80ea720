#include "pricing/model_discounted_cash_flow.hpp"

#include "conventions/generator_repository.hpp"
#include "conventions/generator_swap.hpp"
#include "conventions/index_repository.hpp"
#include "conventions/ois_index.hpp"
#include "core/shown_text.hpp"
#include "curves/bumped_curve.hpp"
#include "curves/period_value.hpp"
#include "curves/yield_curve.hpp"
#include "dates/calendar_repository.hpp"
#include "dates/date_arithmetic.hpp"
#include "dates/day_counter.hpp"

#include <boost/date_time/gregorian/formatters.hpp>

#include <algorithm>
#include <stdexcept>

namespace tsr {

namespace {

const YieldCurve& discountCurve(const ProductInterestRateSwap::SwapLeg& leg, CurveMap& curves) {
    const auto it = curves.find(leg.currency);
    if (it == curves.end() || it->second == nullptr) {
        throw std::runtime_error("No discount curve is provided for currency " +
                                 shownText(leg.currency));
    }
    return *it->second;
}

ObjectTree leaf(double value) {
    return ObjectTree(std::make_shared<const BoxedValue>(value));
}

const ProductInterestRateSwap& swapOf(const std::shared_ptr<const Product>& product) {
    const auto* swap = dynamic_cast<const ProductInterestRateSwap*>(product.get());
    if (swap == nullptr) {
        throw std::runtime_error("Unsupported product.");
    }
    return *swap;
}

// The value of fixing `day`, or null when the fixings do not hold it. The first entry dated
// `day` counts; dates need not be sorted, but when they ascend, as they do when read from a
// file, a bisection finds the same entry as a scan.
class FixingLookup {
public:
    explicit FixingLookup(const std::pair<std::vector<date>, std::vector<double>>& fixings)
        : dates_(fixings.first), values_(fixings.second),
          sorted_(std::is_sorted(dates_.begin(), dates_.end())) {}

    const double* find(const date& day) const {
        const auto it = sorted_ ? std::lower_bound(dates_.begin(), dates_.end(), day)
                                : std::find(dates_.begin(), dates_.end(), day);
        return it == dates_.end() || *it != day
                   ? nullptr
                   : &values_[static_cast<std::size_t>(it - dates_.begin())];
    }

private:
    const std::vector<date>& dates_;
    const std::vector<double>& values_;
    bool sorted_;
};

// Compounded rate of a period that started before the curve's value date v:
// realised fixings on the index calendar's business days in [start, v), the
// curve from v on.
double runningPeriodRate(const ProductInterestRateSwap::SwapLeg& leg, const YieldCurve& curve,
                         const OisIndex& index, const DayCounter& dayCounter,
                         const FixingsMap& fixings, date start, date end, double tau) {
    const RealisedGrowth realised =
        realisedGrowth(leg, index, dayCounter, fixings, start, curve.valueDate());
    if (realised.hasToday) {
        // Today's fixing is known: it covers v to the next business day h.
        return period::runningRateFromNext(realised.todayGrowth, curve.df(realised.nextBusinessDay),
                                           curve.df(end), tau);
    }
    return period::runningRate(realised.growth, curve.df(end), tau);
}

// The last pillar that can move the swap's price. Every date the price reads (payment and
// accrual dates) lies on or before it, and a discount factor on or before a pillar depends on
// that pillar and the earlier ones only. A running period also reads the business day after
// the value date on the index calendar, so then every pillar is kept.
std::size_t latestPillarToSolve(const ProductInterestRateSwap& swap, const YieldCurve& curve) {
    const std::vector<date>& pillars = curve.pillarDates();
    const date v = curve.valueDate();
    date latest = v;
    for (const auto& leg : swap.legs()) {
        for (const auto* dates :
             {&leg.paymentDates, &leg.accrualStartDates, &leg.accrualEndDates}) {
            for (const date& d : *dates) {
                latest = std::max(latest, d);
            }
        }
        if (!leg.isFixed) {
            for (std::size_t i = 0; i < leg.accrualStartDates.size(); ++i) {
                if (leg.accrualStartDates[i] < v && v < leg.accrualEndDates[i]) {
                    return pillars.size() - 1;
                }
            }
        }
    }
    const auto covering = std::lower_bound(pillars.begin(), pillars.end(), latest);
    if (covering == pillars.end()) {
        return pillars.size() - 1;
    }
    return static_cast<std::size_t>(covering - pillars.begin());
}

} // namespace

CurveMap singleCurveMap(const ProductInterestRateSwap& swap, const YieldCurve& curve) {
    CurveMap curves;
    const auto& legs = swap.legs();
    curves[legs[0].currency] = &curve;
    for (const auto& leg : legs) {
        if (!leg.isFixed) {
            curves[leg.index] = &curve;
        }
    }
    return curves;
}

RealisedGrowth realisedGrowth(const ProductInterestRateSwap::SwapLeg& leg, const OisIndex& index,
                              const DayCounter& dayCounter, const FixingsMap& fixings, date start,
                              date v) {
    const auto found = fixings.find(leg.index);
    if (found == fixings.end()) {
        throw std::runtime_error("No fixings for index " + shownText(leg.index));
    }
    const auto& history = found->second;
    if (history.first.size() != history.second.size()) {
        throw std::invalid_argument("Error, fixings for index " + shownText(leg.index) + " have " +
                                    std::to_string(history.first.size()) + " dates and " +
                                    std::to_string(history.second.size()) + " values.");
    }
    const auto calendar = CalendarRepository::current().get(index.calendar());
    const FixingLookup lookup(history);

    // Each business day is observed until the next one, the last until v. The days are
    // walked without a list, so that pricing allocates nothing per period.
    RealisedGrowth result;
    double growth = 1.0;
    const auto observe = [&](const date& day, const date& next) {
        const double* fixing = lookup.find(day);
        if (fixing == nullptr) {
            throw std::runtime_error("Fixing is required for date " +
                                     boost::gregorian::to_iso_extended_string(day));
        }
        growth = period::compound(growth, *fixing, dayCounter.fraction(day, next));
    };
    bool pending = false;
    date observed;
    for (date d = start; d < v; d += boost::gregorian::days(1)) {
        if (calendar->isBusinessDay(d)) {
            if (pending) {
                observe(observed, d);
            }
            observed = d;
            pending = true;
        }
    }
    if (pending) {
        observe(observed, v);
    }
    result.growth = growth;
    if (const double* today = lookup.find(v)) {
        const date h = addBusinessDays(v, 1, *calendar);
        result.hasToday = true;
        result.todayGrowth = period::compound(growth, *today, dayCounter.fraction(v, h));
        result.nextBusinessDay = h;
    }
    return result;
}

std::vector<double> calculateDiscountFactors(const ProductInterestRateSwap::SwapLeg& leg,
                                             CurveMap& curves) {
    const YieldCurve& curve = discountCurve(leg, curves);
    std::vector<double> result;
    result.reserve(leg.paymentDates.size());
    for (const auto& payment : leg.paymentDates) {
        result.push_back(curve.df(payment));
    }
    return result;
}

std::vector<double> calculateRates(const ProductInterestRateSwap::SwapLeg& leg, CurveMap& curves,
                                   const FixingsMap& fixings) {
    const std::size_t n = leg.paymentDates.size();
    if (leg.isFixed) {
        return std::vector<double>(n, leg.rate);
    }
    const auto found = curves.find(leg.index);
    if (found == curves.end() || found->second == nullptr) {
        throw std::runtime_error("No estimation curve is provided for index " +
                                 shownText(leg.index));
    }
    const YieldCurve& curve = *found->second;
    const auto& index = IndexRepository::instance().at<OisIndex>(leg.index);
    const DayCounter dayCounter(index.dayCount());
    const date v = curve.valueDate();

    std::vector<double> rates;
    rates.reserve(n);
    // A period usually starts where the one before ended: its discount factor is known.
    date previousEnd;
    double dfPreviousEnd = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const date start = leg.accrualStartDates[i];
        const date end = leg.accrualEndDates[i];
        const double tau = dayCounter.fraction(start, end);
        if (v >= end) {
            rates.push_back(0.0);
        } else if (tau == 0.0) {
            // A period that adjusted to zero length accrues nothing.
            rates.push_back(0.0);
        } else if (start >= v) {
            const double dfStart = start == previousEnd ? dfPreviousEnd : curve.df(start);
            const double dfEnd = curve.df(end);
            rates.push_back(period::forwardRate(dfStart, dfEnd, tau));
            previousEnd = end;
            dfPreviousEnd = dfEnd;
        } else {
            rates.push_back(
                runningPeriodRate(leg, curve, index, dayCounter, fixings, start, end, tau));
        }
    }
    return rates;
}

LegValues ModelDiscountedCashFlow::legValues(const ProductInterestRateSwap& swap, CurveMap& curves,
                                             const FixingsMap& fixings) {
    std::array<double, 2> pvs{};
    // Both legs of a swap usually pay on the same dates off the same curve.
    const YieldCurve* previousCurve = nullptr;
    std::vector<double> dfs;
    for (std::size_t k = 0; k < swap.legs().size(); ++k) {
        const auto& leg = swap.legs()[k];
        const YieldCurve& curve = discountCurve(leg, curves);
        if (&curve != previousCurve || leg.paymentDates != swap.legs()[k - 1].paymentDates) {
            dfs = calculateDiscountFactors(leg, curves);
        }
        previousCurve = &curve;
        const std::vector<double> rates = calculateRates(leg, curves, fixings);
        const date v = curve.valueDate();
        double pv = 0.0;
        for (std::size_t i = 0; i < leg.paymentDates.size(); ++i) {
            // Payments on or before the value date are settled.
            if (v < leg.paymentDates[i]) {
                pv += period::couponValue(leg.dayCountFractions[i] * leg.notional, rates[i],
                                          leg.margin, dfs[i]);
            }
        }
        pvs[k] = leg.isPaid ? -pv : pv;
    }
    double npv = 0.0;
    npv += pvs[0];
    npv += pvs[1];
    return {pvs[0], pvs[1], npv};
}

ObjectTree ModelDiscountedCashFlow::price(std::shared_ptr<const Product> product, CurveMap& curves,
                                          const FixingsMap& fixings) {
    const LegValues values = legValues(swapOf(product), curves, fixings);
    ObjectTree result;
    result.push_back({"Leg1 PV", leaf(values.leg1)});
    result.push_back({"Leg2 PV", leaf(values.leg2)});
    result.push_back({"NPV", leaf(values.npv)});
    return result;
}

std::vector<QuoteBump> ModelDiscountedCashFlow::pillarQuotes(const YieldCurve& curve) {
    // The row behind each pillar: used swap and futures rows; deposits make none.
    const std::vector<std::size_t>& rows = curve.pillarRows();
    std::vector<QuoteBump> bumps;
    bumps.reserve(rows.size());
    for (std::size_t j = 0; j < rows.size(); ++j) {
        bumps.push_back({rows[j], j});
    }
    return bumps;
}

KeyRateRisk ModelDiscountedCashFlow::bumpRisk(const ProductInterestRateSwap& swap, CurveMap& curves,
                                              const FixingsMap& fixings) {
    const YieldCurve& base = discountCurve(swap.legs()[0], curves);

    const YieldCurveInstruments& instruments = base.instrumentSet();
    const date horizon = swap.lastDate();
    const std::vector<date>& pillars = base.pillarDates();

    // Later pillars cannot move the swap's price.
    const std::size_t count = instruments.tenors.size();
    std::vector<QuoteBump> bumps = pillarQuotes(base);
    // Pillars solved together all move with every quote.
    std::erase_if(bumps, [&](const QuoteBump& bump) {
        return !base.pillarsTogether() && !bumpReaches(bump, pillars, horizon);
    });

    std::vector<double> leg1(count, 0.0);
    std::vector<double> leg2(count, 0.0);
    std::vector<double> net(count, 0.0);
    if (!bumps.empty()) {
        BumpedCurve bumped(base, latestPillarToSolve(swap, base));
        CurveMap bumpedCurves;
        for (const auto& entry : curves) {
            bumpedCurves.emplace(entry.first, &bumped.curve());
        }
        for (const QuoteBump& bump : bumps) {
            // In the pillar's own terms: a futures row's rate, not its price.
            const double quote = base.pillarInstruments()[bump.pillar].quote;
            bumped.solve(bump.pillar, quote + bumpSize);
            const LegValues up = legValues(swap, bumpedCurves, fixings);
            bumped.solve(bump.pillar, quote - bumpSize);
            const LegValues down = legValues(swap, bumpedCurves, fixings);
            const std::size_t m = bump.instrument;
            leg1[m] = (up.leg1 - down.leg1) / (2.0 * bumpSize);
            leg2[m] = (up.leg2 - down.leg2) / (2.0 * bumpSize);
            net[m] = (up.npv - down.npv) / (2.0 * bumpSize);
        }
    }

    return {instruments.tenors, std::move(leg1), std::move(leg2), std::move(net)};
}

ObjectTree ModelDiscountedCashFlow::risk(std::shared_ptr<const Product> product, CurveMap& curves,
                                         const FixingsMap& fixings) {
    return toTree(bumpRisk(swapOf(product), curves, fixings));
}

std::array<LegCashFlows, 2>
ModelDiscountedCashFlow::legCashFlows(const ProductInterestRateSwap& swap, CurveMap& curves,
                                      const FixingsMap& fixings) {
    std::array<LegCashFlows, 2> result;
    for (std::size_t k = 0; k < swap.legs().size(); ++k) {
        const auto& leg = swap.legs()[k];
        LegCashFlows& out = result[k];
        out.discountFactors = calculateDiscountFactors(leg, curves);
        out.rates = calculateRates(leg, curves, fixings);
        const std::size_t n = leg.paymentDates.size();
        out.flows.resize(n);
        out.presentValues.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            const double rate = leg.isFixed ? out.rates[i] : out.rates[i] + leg.margin;
            out.flows[i] = leg.dayCountFractions[i] * leg.notional * rate;
            out.presentValues[i] = out.flows[i] * out.discountFactors[i];
        }
    }
    return result;
}

ObjectTree ModelDiscountedCashFlow::cashflows(std::shared_ptr<const Product> product,
                                              CurveMap& curves, const FixingsMap& fixings) {
    const ProductInterestRateSwap& swap = swapOf(product);
    const std::array<LegCashFlows, 2> priced = legCashFlows(swap, curves, fixings);
    ObjectTree result;
    for (std::size_t k = 0; k < swap.legs().size(); ++k) {
        const auto& leg = swap.legs()[k];
        const LegCashFlows& values = priced[k];
        const std::size_t n = leg.paymentDates.size();
        ObjectTree table = scheduleTable(leg);
        addVector(table, "Notional", std::vector<double>(n, leg.notional));
        addVector(table, "Discount Factor", values.discountFactors);
        if (leg.isFixed) {
            addVector(table, "Rate", values.rates);
        } else {
            addVector(table, "Estimated Rate", values.rates);
            addVector(table, "Spread", std::vector<double>(n, leg.margin));
        }
        addVector(table, "Cash Flow", values.flows);
        addVector(table, "Cash Flow PV", values.presentValues);
        result.add_child("Leg" + std::to_string(k + 1), table);
    }
    return result;
}

} // namespace tsr
