#include "pricing/book.hpp"

#include "conventions/index_repository.hpp"
#include "conventions/ois_index.hpp"
#include "conventions/swap_conventions.hpp"
#include "curves/yield_curve.hpp"
#include "pricing/analytic_risk.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <utility>

namespace tsr {

namespace {

constexpr double missing = std::numeric_limits<double>::quiet_NaN();
// Trades per unit of work: large enough to make the shared counter cheap, small enough to
// balance swaps of very different lengths.
constexpr std::size_t chunkSize = 64;

// Runs work(begin, end) over [0, count) in chunks on `threads` threads, the caller being
// one of them. Each index is visited once; which thread takes it changes nothing, because
// work writes only the slots of its own indices.
template <class Work> void forEachChunk(std::size_t count, unsigned threads, const Work& work) {
    std::atomic<std::size_t> next{0};
    const auto worker = [&] {
        for (;;) {
            const std::size_t begin = next.fetch_add(chunkSize);
            if (begin >= count) {
                return;
            }
            work(begin, std::min(count, begin + chunkSize));
        }
    };
    const std::size_t useful = (count + chunkSize - 1) / chunkSize;
    const std::size_t helpers = std::min<std::size_t>(std::max(threads, 1U), useful);
    {
        std::vector<std::jthread> pool;
        for (std::size_t t = 1; t < helpers; ++t) {
            pool.emplace_back(worker);
        }
        worker();
    }
}

// The message of the exception in flight; call only inside a catch block.
std::string currentMessage() {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error.";
    }
}

} // namespace

Book::Book(const std::vector<BookConventionsInput>& conventions,
           const std::vector<BookTradeInput>& trades, CurveSet curves, FixingsMap fixings,
           unsigned threads)
    : curves_(std::move(curves)), fixings_(std::move(fixings)), swaps_(trades.size()),
      curveIds_(trades.size()), errors_(trades.size()) {
    std::vector<date> lastDates(trades.size());
    std::vector<date> firstFloatingStarts(trades.size());
    // Conventions are parsed once per set, not once per trade.
    std::vector<std::optional<SwapConventions>> parsed(conventions.size());
    std::vector<TradeError> conventionErrors(conventions.size());
    for (std::size_t c = 0; c < conventions.size(); ++c) {
        if (!conventions[c].error.message.empty()) {
            conventionErrors[c] = conventions[c].error;
        } else if (!conventions[c].generator) {
            conventionErrors[c] = {"generator", "no conventions are given"};
        } else {
            try {
                parsed[c].emplace(conventions[c].generator);
            } catch (...) {
                conventionErrors[c] = {"generator", currentMessage()};
            }
        }
    }

    forEachChunk(trades.size(), threads, [&](std::size_t begin, std::size_t end) {
        for (std::size_t t = begin; t < end; ++t) {
            const BookTradeInput& trade = trades[t];
            curveIds_[t] = trade.curve;
            if (!trade.error.message.empty()) {
                errors_[t] = trade.error;
            } else if (trade.conventions >= parsed.size()) {
                errors_[t] = {"generator", "unknown convention set"};
            } else if (!parsed[trade.conventions]) {
                errors_[t] = conventionErrors[trade.conventions];
            } else if (!curves_.contains(trade.curve) || !curves_.at(trade.curve)) {
                errors_[t] = {"curve", "no curve '" + trade.curve + "' is given"};
            } else {
                try {
                    swaps_[t] = std::make_shared<const ProductInterestRateSwap>(
                        *parsed[trade.conventions], trade.terms);
                    date& last = lastDates[t];
                    date& first = firstFloatingStarts[t];
                    for (const auto& leg : swaps_[t]->legs()) {
                        for (const auto* dates : {&leg.paymentDates, &leg.accrualEndDates}) {
                            for (const date& d : *dates) {
                                last = last.is_special() ? d : std::max(last, d);
                            }
                        }
                        if (leg.isFixed) {
                            continue;
                        }
                        for (const date& d : leg.accrualStartDates) {
                            first = first.is_special() ? d : std::min(first, d);
                        }
                    }
                } catch (...) {
                    errors_[t] = {"", currentMessage()};
                }
            }
        }
    });

    // One curve map per (curve, conventions) pair in use.
    std::map<std::pair<const YieldCurve*, std::size_t>, std::uint32_t> slots;
    curveMapOf_.assign(trades.size(), 0);
    for (std::size_t t = 0; t < trades.size(); ++t) {
        if (!swaps_[t]) {
            continue;
        }
        const YieldCurve* curve = curves_.at(trades[t].curve).get();
        const auto [it, added] = slots.try_emplace({curve, trades[t].conventions},
                                                   static_cast<std::uint32_t>(curveMaps_.size()));
        if (added) {
            curveMaps_.push_back(singleCurveMap(*swaps_[t], *curve));
            curveOfMap_.push_back(curve);
            mapLastDates_.push_back(lastDates[t]);
            DailyDiscountTable::IndexDays& days = indexDays_.emplace_back();
            for (std::size_t k = 0; k < 2; ++k) {
                const auto& leg = swaps_[t]->legs()[k];
                if (!leg.isFixed && IndexRepository::instance().contains(leg.index)) {
                    days[k].emplace(
                        IndexRepository::instance().get<OisIndex>(leg.index)->dayCount());
                }
            }
        }
        curveMapOf_[t] = it->second;
        date& last = mapLastDates_[it->second];
        if (!lastDates[t].is_special()) {
            last = last.is_special() ? lastDates[t] : std::max(last, lastDates[t]);
        }
        if (!firstFloatingStarts[t].is_special() && firstFloatingStarts[t] < curve->valueDate()) {
            seasoned_.push_back(t);
        }
    }
}

Book::~Book() = default;

const YieldCurve* Book::curveOf(std::size_t trade) const {
    return swaps_.at(trade) ? curveOfMap_[curveMapOf_[trade]] : nullptr;
}

BookPrices Book::price(unsigned threads) const {
    const std::size_t n = swaps_.size();
    BookPrices out{std::vector<double>(n, missing), std::vector<double>(n, missing),
                   std::vector<double>(n, missing), errors_};
    // One daily table per curve, spanning every date its trades read; a trade the table
    // cannot price takes the plain path.
    std::map<const YieldCurve*, date> lastDates;
    for (std::size_t m = 0; m < curveMaps_.size(); ++m) {
        if (!mapLastDates_[m].is_special()) {
            date& last = lastDates[curveOfMap_[m]];
            last = last.is_special() ? mapLastDates_[m] : std::max(last, mapLastDates_[m]);
        }
    }
    std::map<const YieldCurve*, std::optional<DailyDiscountTable>> tables;
    for (const auto& [curve, last] : lastDates) {
        try {
            tables[curve].emplace(*curve, last);
        } catch (...) {
            tables[curve].reset(); // the plain path reports it
        }
    }
    std::vector<const DailyDiscountTable*> tableOfMap(curveMaps_.size(), nullptr);
    for (std::size_t m = 0; m < curveMaps_.size(); ++m) {
        const auto found = tables.find(curveOfMap_[m]);
        if (found != tables.end() && found->second) {
            tableOfMap[m] = &*found->second;
        }
    }
    // Trades that started together share the growth of their running period: found once
    // per curve map, leg and start. One that cannot be found leaves its trades to the plain
    // path, which reports why.
    using GrowthKey = std::tuple<std::uint32_t, std::size_t, date>;
    std::map<GrowthKey, std::optional<RealisedGrowth>> growths;
    for (const std::size_t t : seasoned_) {
        const std::uint32_t m = curveMapOf_[t];
        if (tableOfMap[m] == nullptr) {
            continue;
        }
        const date v = tableOfMap[m]->valueDate();
        for (std::size_t k = 0; k < 2; ++k) {
            const auto& leg = swaps_[t]->legs()[k];
            for (std::size_t i = 0; !leg.isFixed && i < leg.accrualStartDates.size(); ++i) {
                const date& start = leg.accrualStartDates[i];
                if (start < v && v < leg.accrualEndDates[i] && !growths.contains({m, k, start}) &&
                    indexDays_[m][k]) {
                    std::optional<RealisedGrowth>& growth = growths[{m, k, start}];
                    try {
                        const auto index = IndexRepository::instance().get<OisIndex>(leg.index);
                        growth = realisedGrowth(leg, *index, *indexDays_[m][k], fixings_, start, v);
                    } catch (...) {
                        growth.reset();
                    }
                }
            }
        }
    }
    forEachChunk(n, threads, [&](std::size_t begin, std::size_t end) {
        // A private copy: the model takes its curve map by reference.
        std::optional<std::vector<CurveMap>> maps;
        for (std::size_t t = begin; t < end; ++t) {
            if (!swaps_[t]) {
                continue;
            }
            const std::uint32_t m = curveMapOf_[t];
            try {
                std::optional<LegValues> values;
                if (tableOfMap[m] != nullptr) {
                    values = tableOfMap[m]->legValues(
                        *swaps_[t], indexDays_[m],
                        [&](std::size_t k, const date& start) -> const RealisedGrowth* {
                            const auto found = growths.find({m, k, start});
                            return found == growths.end() || !found->second ? nullptr
                                                                            : &*found->second;
                        });
                }
                if (!values) {
                    if (!maps) {
                        maps = curveMaps_;
                    }
                    values = ModelDiscountedCashFlow::legValues(*swaps_[t], (*maps)[m], fixings_);
                }
                out.leg1[t] = values->leg1;
                out.leg2[t] = values->leg2;
                out.npv[t] = values->npv;
            } catch (...) {
                out.errors[t] = {"", currentMessage()};
            }
        }
    });
    return out;
}

BookRisk Book::risk(RiskMethod method, unsigned threads) const {
    const std::size_t n = swaps_.size();
    BookRisk out;
    out.errors = errors_;
    out.offsets.assign(n + 1, 0);
    for (std::size_t t = 0; t < n; ++t) {
        const YieldCurve* curve = curveOf(t);
        out.offsets[t + 1] = out.offsets[t] + (curve ? curve->instrumentSet().tenors.size() : 0);
    }
    out.leg1.assign(out.offsets[n], missing);
    out.leg2.assign(out.offsets[n], missing);
    out.net.assign(out.offsets[n], missing);
    if (method == RiskMethod::Analytic) {
        // Each curve's Jacobian once, before the workers read it.
        for (const auto& [id, curve] : curves_) {
            try {
                curve->jacobian();
            } catch (...) {
                // The trades on that curve report it.
            }
        }
    }
    forEachChunk(n, threads, [&](std::size_t begin, std::size_t end) {
        // Bumping takes its curve map by reference: a private copy, made when first needed.
        std::optional<std::vector<CurveMap>> maps;
        for (std::size_t t = begin; t < end; ++t) {
            if (!swaps_[t]) {
                continue;
            }
            const std::size_t first = out.offsets[t];
            const std::size_t count = out.offsets[t + 1] - first;
            const auto slice = [&](std::vector<double>& values) {
                return std::span<double>(values).subspan(first, count);
            };
            try {
                if (method == RiskMethod::Analytic) {
                    analyticRisk(*swaps_[t], curveMaps_[curveMapOf_[t]], fixings_, slice(out.leg1),
                                 slice(out.leg2), slice(out.net));
                    continue;
                }
                if (!maps) {
                    maps = curveMaps_;
                }
                const KeyRateRisk ladder = ModelDiscountedCashFlow::bumpRisk(
                    *swaps_[t], (*maps)[curveMapOf_[t]], fixings_);
                if (ladder.leg1.size() != count || ladder.leg2.size() != count ||
                    ladder.net.size() != count) {
                    throw std::logic_error("risk has not one entry per curve instrument");
                }
                std::copy(ladder.leg1.begin(), ladder.leg1.end(), slice(out.leg1).begin());
                std::copy(ladder.leg2.begin(), ladder.leg2.end(), slice(out.leg2).begin());
                std::copy(ladder.net.begin(), ladder.net.end(), slice(out.net).begin());
            } catch (...) {
                out.errors[t] = {"", currentMessage()};
                for (std::vector<double>* values : {&out.leg1, &out.leg2, &out.net}) {
                    std::ranges::fill(slice(*values), missing);
                }
            }
        }
    });
    return out;
}

BookCashFlows Book::cashflows(unsigned threads) const {
    const std::size_t n = swaps_.size();
    BookCashFlows out;
    out.errors = errors_;
    out.offsets.assign(n + 1, 0);
    for (std::size_t t = 0; t < n; ++t) {
        std::size_t rows = 0;
        if (swaps_[t]) {
            for (const auto& leg : swaps_[t]->legs()) {
                rows += leg.paymentDates.size();
            }
        }
        out.offsets[t + 1] = out.offsets[t] + rows;
    }
    const std::size_t rows = out.offsets[n];
    out.leg.assign(rows, 0);
    for (auto* dates : {&out.accrualStartDates, &out.accrualEndDates, &out.paymentDates}) {
        dates->assign(rows, date());
    }
    for (auto* values : {&out.dayCountFractions, &out.notionals, &out.discountFactors, &out.rates,
                         &out.margins, &out.flows, &out.presentValues}) {
        values->assign(rows, missing);
    }
    std::vector<char> failed(n, 0);
    forEachChunk(n, threads, [&](std::size_t begin, std::size_t end) {
        std::vector<CurveMap> maps = curveMaps_;
        for (std::size_t t = begin; t < end; ++t) {
            if (!swaps_[t]) {
                continue;
            }
            try {
                const auto priced = ModelDiscountedCashFlow::legCashFlows(
                    *swaps_[t], maps[curveMapOf_[t]], fixings_);
                std::size_t row = out.offsets[t];
                for (std::size_t k = 0; k < 2; ++k) {
                    const auto& leg = swaps_[t]->legs()[k];
                    for (std::size_t i = 0; i < leg.paymentDates.size(); ++i, ++row) {
                        out.leg[row] = static_cast<std::uint8_t>(k + 1);
                        out.accrualStartDates[row] = leg.accrualStartDates[i];
                        out.accrualEndDates[row] = leg.accrualEndDates[i];
                        out.paymentDates[row] = leg.paymentDates[i];
                        out.dayCountFractions[row] = leg.dayCountFractions[i];
                        out.notionals[row] = leg.notional;
                        out.discountFactors[row] = priced[k].discountFactors[i];
                        out.rates[row] = priced[k].rates[i];
                        out.margins[row] = leg.margin;
                        out.flows[row] = priced[k].flows[i];
                        out.presentValues[row] = priced[k].presentValues[i];
                    }
                }
            } catch (...) {
                out.errors[t] = {"", currentMessage()};
                failed[t] = 1;
            }
        }
    });
    // A trade that failed keeps no rows.
    if (std::find(failed.begin(), failed.end(), 1) != failed.end()) {
        BookCashFlows kept;
        kept.errors = std::move(out.errors);
        kept.offsets.assign(n + 1, 0);
        for (std::size_t t = 0; t < n; ++t) {
            const std::size_t from = out.offsets[t];
            const std::size_t to = failed[t] ? from : out.offsets[t + 1];
            kept.offsets[t + 1] = kept.offsets[t] + (to - from);
            const auto copy = [&](const auto& source, auto& target) {
                target.insert(target.end(), source.begin() + static_cast<std::ptrdiff_t>(from),
                              source.begin() + static_cast<std::ptrdiff_t>(to));
            };
            copy(out.leg, kept.leg);
            copy(out.accrualStartDates, kept.accrualStartDates);
            copy(out.accrualEndDates, kept.accrualEndDates);
            copy(out.paymentDates, kept.paymentDates);
            copy(out.dayCountFractions, kept.dayCountFractions);
            copy(out.notionals, kept.notionals);
            copy(out.discountFactors, kept.discountFactors);
            copy(out.rates, kept.rates);
            copy(out.margins, kept.margins);
            copy(out.flows, kept.flows);
            copy(out.presentValues, kept.presentValues);
        }
        return kept;
    }
    return out;
}

} // namespace tsr
