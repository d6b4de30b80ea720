#include "pricing/swap_pricer.hpp"

#include "conventions/index_repository.hpp"
#include "conventions/ois_index.hpp"
#include "curves/period_value.hpp"
#include "dates/day_counter.hpp"

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace tsr {

namespace {

// A period with its dates, before they become places in the pricer's date table.
struct Draft {
    double fractionTimesNotional = 0.0;
    double growth = 0.0;
    double tau = 0.0;
    date payment;
    date start;
    date end;
    date nextBusinessDay;
    bool settled = false;
};

} // namespace

SwapPricer::SwapPricer(std::shared_ptr<const ProductInterestRateSwap> swap, const YieldCurve& curve,
                       const FixingsMap& fixings)
    : swap_(std::move(swap)) {
    if (!swap_) {
        throw std::runtime_error("Unsupported product.");
    }
    // Pricing once on the single-curve map raises whatever the swap would.
    CurveMap curves = singleCurveMap(*swap_, curve);
    ModelDiscountedCashFlow::legValues(*swap_, curves, fixings);

    const date v = curve.valueDate();
    std::array<std::vector<std::pair<RateKind, Draft>>, 2> drafts;
    for (std::size_t l = 0; l < legs_.size(); ++l) {
        const ProductInterestRateSwap::SwapLeg& source = swap_->legs()[l];
        Leg& leg = legs_[l];
        leg.isPaid = source.isPaid;
        leg.margin = source.margin;
        std::shared_ptr<OisIndex> index;
        std::optional<DayCounter> dayCounter;
        if (!source.isFixed) {
            index = IndexRepository::instance().get<OisIndex>(source.index);
            dayCounter.emplace(index->dayCount());
        }
        for (std::size_t i = 0; i < source.paymentDates.size(); ++i) {
            Draft draft;
            draft.fractionTimesNotional = source.dayCountFractions[i] * source.notional;
            draft.payment = source.paymentDates[i];
            draft.start = source.accrualStartDates[i];
            draft.end = source.accrualEndDates[i];
            draft.settled = !(v < draft.payment);
            RateKind kind = RateKind::Fixed;
            if (!source.isFixed) {
                // The cases of calculateRates, in its order.
                draft.tau = dayCounter->fraction(draft.start, draft.end);
                if (v >= draft.end || draft.tau == 0.0) {
                    kind = RateKind::Zero;
                } else if (draft.start >= v) {
                    kind = RateKind::Forward;
                } else {
                    const RealisedGrowth realised =
                        realisedGrowth(source, *index, *dayCounter, fixings, draft.start, v);
                    kind = realised.hasToday ? RateKind::RunningToday : RateKind::Running;
                    draft.growth = realised.hasToday ? realised.todayGrowth : realised.growth;
                    draft.nextBusinessDay = realised.nextBusinessDay;
                }
            }
            if (draft.settled) {
                continue; // paid on or before the value date: never read
            }
            dates_.push_back(draft.payment);
            if (kind == RateKind::Forward) {
                dates_.push_back(draft.start);
            }
            if (kind == RateKind::Forward || kind == RateKind::Running ||
                kind == RateKind::RunningToday) {
                dates_.push_back(draft.end);
            }
            if (kind == RateKind::RunningToday) {
                dates_.push_back(draft.nextBusinessDay);
            }
            drafts[l].emplace_back(kind, draft);
        }
    }
    std::sort(dates_.begin(), dates_.end());
    dates_.erase(std::unique(dates_.begin(), dates_.end()), dates_.end());
    points_.reserve(dates_.size());
    for (const date& d : dates_) {
        points_.push_back(curve.point(d));
    }
    for (std::size_t l = 0; l < legs_.size(); ++l) {
        Leg& leg = legs_[l];
        for (const auto& [kind, draft] : drafts[l]) {
            const RateKind group = kind == RateKind::Fixed || kind == RateKind::Zero
                                       ? RateKind::Fixed
                                   : kind == RateKind::Forward ? RateKind::Forward
                                                               : RateKind::Running;
            if (leg.runs.empty() || leg.runs.back().kind != group) {
                leg.runs.push_back({group, 0});
            }
            ++leg.runs.back().count;
            switch (group) {
            case RateKind::Fixed: {
                // The plain price's fraction x notional x (rate + margin), rate 0 for a
                // period that is over.
                const double rate = kind == RateKind::Fixed ? swap_->legs()[l].rate : 0.0;
                leg.constants.push_back(
                    {draft.fractionTimesNotional * (rate + leg.margin), slot(draft.payment)});
                break;
            }
            case RateKind::Forward:
                leg.forwards.push_back({draft.fractionTimesNotional, draft.tau, slot(draft.payment),
                                        slot(draft.start), slot(draft.end)});
                break;
            default:
                leg.running.push_back({draft.fractionTimesNotional, draft.growth, draft.tau,
                                       slot(draft.payment), slot(draft.end),
                                       kind == RateKind::RunningToday ? slot(draft.nextBusinessDay)
                                                                      : std::uint32_t{0},
                                       kind == RateKind::RunningToday});
                break;
            }
        }
    }
}

std::uint32_t SwapPricer::slot(const date& d) {
    return static_cast<std::uint32_t>(std::lower_bound(dates_.begin(), dates_.end(), d) -
                                      dates_.begin());
}

double SwapPricer::legValue(const Leg& leg, const double* dfs) const {
    // The operations of ModelDiscountedCashFlow::price, in its order.
    double pv = 0.0;
    const Constant* constant = leg.constants.data();
    const Forward* forward = leg.forwards.data();
    const Running* running = leg.running.data();
    for (const Run& run : leg.runs) {
        switch (run.kind) {
        case RateKind::Fixed:
            for (std::uint32_t i = 0; i < run.count; ++i, ++constant) {
                pv += constant->amount * dfs[constant->payment];
            }
            break;
        case RateKind::Forward:
            for (std::uint32_t i = 0; i < run.count; ++i, ++forward) {
                const Forward& p = *forward;
                const double rate = period::forwardRate(dfs[p.start], dfs[p.end], p.tau);
                pv +=
                    period::couponValue(p.fractionTimesNotional, rate, leg.margin, dfs[p.payment]);
            }
            break;
        default:
            for (std::uint32_t i = 0; i < run.count; ++i, ++running) {
                const Running& p = *running;
                const double rate =
                    p.today ? period::runningRateFromNext(p.growth, dfs[p.nextBusinessDay],
                                                          dfs[p.end], p.tau)
                            : period::runningRate(p.growth, dfs[p.end], p.tau);
                pv +=
                    period::couponValue(p.fractionTimesNotional, rate, leg.margin, dfs[p.payment]);
            }
            break;
        }
    }
    return leg.isPaid ? -pv : pv;
}

SwapPricer::Values SwapPricer::value(const YieldCurve& curve, std::vector<double>& dfs) const {
    if (shared_) {
        throw std::logic_error("Error, the pricer reads a shared date table.");
    }
    dfs.resize(points_.size());
    for (std::size_t i = 0; i < points_.size(); ++i) {
        dfs[i] = curve.df(points_[i]);
    }
    return value(dfs.data());
}

void SwapPricer::shareDates(const date& first, std::span<const std::uint32_t> placeOfDay) {
    std::vector<std::uint32_t> place(dates_.size());
    for (std::size_t i = 0; i < dates_.size(); ++i) {
        const long day = (dates_[i] - first).days();
        if (day < 0 || static_cast<std::size_t>(day) >= placeOfDay.size() ||
            placeOfDay[static_cast<std::size_t>(day)] == notShared) {
            throw std::invalid_argument("Error, the shared date table lacks a date of the swap.");
        }
        place[i] = placeOfDay[static_cast<std::size_t>(day)];
    }
    for (Leg& leg : legs_) {
        for (Constant& p : leg.constants) {
            p.payment = place[p.payment];
        }
        for (Forward& p : leg.forwards) {
            p.payment = place[p.payment];
            p.start = place[p.start];
            p.end = place[p.end];
        }
        for (Running& p : leg.running) {
            p.payment = place[p.payment];
            p.end = place[p.end];
            p.nextBusinessDay = place[p.nextBusinessDay];
        }
    }
    // The table's factors replace the pricer's own.
    points_.clear();
    points_.shrink_to_fit();
    shared_ = true;
}

SwapPricer::Values SwapPricer::value(const double* dfs) const {
    Values values{};
    values.leg1 = legValue(legs_[0], dfs);
    values.leg2 = legValue(legs_[1], dfs);
    double npv = 0.0;
    npv += values.leg1;
    npv += values.leg2;
    values.npv = npv;
    return values;
}

} // namespace tsr
