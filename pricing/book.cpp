#include "pricing/book.hpp"

#include "conventions/index_repository.hpp"
#include "conventions/ois_index.hpp"
#include "conventions/swap_conventions.hpp"
#include "curves/yield_curve.hpp"
#include "dates/calendar_repository.hpp"
#include "pricing/analytic_risk.hpp"
#include "pricing/thread_count.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <iterator>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <utility>

namespace tsr {

namespace {

constexpr double missing = std::numeric_limits<double>::quiet_NaN();
// The fewest trades a thread takes at once: enough to make the shared counter cheap.
constexpr std::size_t tradeChunk = 64;
// Bump risk rebuilds a curve per quote, about half a millisecond a trade: small last pieces,
// so that one thread does not finish 64 such trades alone.
constexpr std::size_t bumpChunk = 4;
// Days of a discount table filled per unit of work.
constexpr std::size_t dayChunk = 512;

// Runs work(begin, end) over [0, count) on `threads` threads, the caller being one of them.
// Each takes half its share of what is left, and at least `chunk`: the first pieces are
// long, so that each thread writes long runs of the output (a page that two threads fault
// in at once costs more than the work on it), and the last are short, so that the threads
// finish together. Each index is visited once; which thread takes it changes nothing,
// because work writes only the slots of its own indices.
template <class Work>
void forEachChunk(std::size_t count, std::size_t chunk, unsigned threads, const Work& work) {
    const std::size_t workers = checkedThreadCount(threads);
    std::atomic<std::size_t> next{0};
    const auto worker = [&] {
        std::size_t begin = next.load();
        while (begin < count) {
            const std::size_t size = std::max(chunk, (count - begin) / (2 * workers));
            if (next.compare_exchange_weak(begin, begin + size)) {
                work(begin, std::min(count, begin + size));
                begin = next.load();
            }
        }
    };
    const std::size_t useful = (count + chunk - 1) / chunk;
    const std::size_t helpers = std::min<std::size_t>(workers, useful);
    {
        std::vector<std::jthread> pool;
        for (std::size_t t = 1; t < helpers; ++t) {
            pool.emplace_back(worker);
        }
        worker();
    }
}

// Counts one trade done when it goes out of scope, however the trade ended.
struct CountDone {
    CallProgress* progress;
    explicit CountDone(CallProgress* counter) : progress(counter) {}
    CountDone(const CountDone&) = delete;
    CountDone& operator=(const CountDone&) = delete;
    ~CountDone() {
        if (progress != nullptr) {
            progress->done.fetch_add(1, std::memory_order_relaxed);
        }
    }
};

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

// The failures of one call, gathered from the workers' chunks.
class FailureLog {
public:
    void add(std::vector<BookFailure>& chunk) {
        if (chunk.empty()) {
            return;
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        failures_.insert(failures_.end(), std::make_move_iterator(chunk.begin()),
                         std::make_move_iterator(chunk.end()));
        chunk.clear();
    }
    // These and the build failures, in book order.
    std::vector<BookFailure> merged(const std::vector<BookFailure>& built) {
        const auto byTrade = [](const BookFailure& a, const BookFailure& b) {
            return a.trade < b.trade;
        };
        std::sort(failures_.begin(), failures_.end(), byTrade);
        std::vector<BookFailure> out;
        out.reserve(built.size() + failures_.size());
        std::merge(built.begin(), built.end(), failures_.begin(), failures_.end(),
                   std::back_inserter(out), byTrade);
        return out;
    }

private:
    std::mutex mutex_;
    std::vector<BookFailure> failures_;
};

// One error per trade, empty for the trades not in failures.
std::vector<TradeError> errorsOf(std::size_t trades, std::vector<BookFailure>&& failures) {
    std::vector<TradeError> errors(trades);
    for (BookFailure& failure : failures) {
        errors[failure.trade] = std::move(failure.error);
    }
    return errors;
}

// Codes of names into the list of the distinct ones, in order of first appearance.
class Factorizer {
public:
    explicit Factorizer(std::vector<std::string>& names) : names_(names) {}
    std::uint32_t operator()(const std::string& name) {
        const auto [it, added] =
            codes_.try_emplace(name, static_cast<std::uint32_t>(names_.size()));
        if (added) {
            names_.push_back(name);
        }
        return it->second;
    }

private:
    std::vector<std::string>& names_;
    std::unordered_map<std::string, std::uint32_t> codes_;
};

} // namespace

std::vector<BookFailure> failuresOf(const std::vector<TradeError>& errors) {
    std::vector<BookFailure> failures;
    for (std::size_t t = 0; t < errors.size(); ++t) {
        if (!errors[t].message.empty()) {
            failures.push_back({t, errors[t]});
        }
    }
    return failures;
}

Book::Book(const std::vector<BookConventionsInput>& conventions,
           const std::vector<BookTradeInput>& trades, CurveSet curves, FixingsMap fixings,
           unsigned threads)
    : curves_(std::move(curves)), fixings_(std::move(fixings)), swaps_(trades.size()),
      curveIds_(trades.size()), errors_(trades.size()) {
    // Every lookup of the build sees the calendars of one moment, even while another thread
    // re-registers one: a trade never mixes an old list with a new one.
    const std::shared_ptr<const CalendarRepository> calendars =
        CalendarRepository::instance().snapshot();
    const CalendarRepository::ScopedView view(calendars.get());
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

    forEachChunk(trades.size(), tradeChunk, threads, [&](std::size_t begin, std::size_t end) {
        const CalendarRepository::ScopedView workerView(calendars.get());
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
        if (firstFloatingStarts[t].is_special() || firstFloatingStarts[t] >= curve->valueDate()) {
            continue;
        }
        // The periods running on the value date.
        const DailyDiscountTable::IndexDays& days = indexDays_[it->second];
        for (std::size_t k = 0; k < 2; ++k) {
            const auto& leg = swaps_[t]->legs()[k];
            for (std::size_t i = 0; days[k] && !leg.isFixed && i < leg.accrualStartDates.size();
                 ++i) {
                if (leg.accrualStartDates[i] < curve->valueDate() &&
                    curve->valueDate() < leg.accrualEndDates[i]) {
                    running_.push_back({it->second, k, leg.accrualStartDates[i], t});
                }
            }
        }
    }
    std::sort(running_.begin(), running_.end(), [](const auto& a, const auto& b) {
        return std::tie(a.map, a.leg, a.start, a.trade) < std::tie(b.map, b.leg, b.start, b.trade);
    });
    running_.erase(std::unique(running_.begin(), running_.end(),
                               [](const auto& a, const auto& b) { return a.key() == b.key(); }),
                   running_.end());

    buildFailures_ = failuresOf(errors_);
    riskOffsets_.assign(trades.size() + 1, 0);
    for (std::size_t t = 0; t < trades.size(); ++t) {
        const YieldCurve* curve = curveOf(t);
        riskOffsets_[t + 1] = riskOffsets_[t] + (curve ? curve->instrumentSet().tenors.size() : 0);
    }

    Factorizer tradeCodes(labels_.tradeNames);
    Factorizer curveCodes(labels_.curveNames);
    Factorizer currencyCodes(labels_.currencyNames);
    labels_.trade.reserve(trades.size());
    labels_.curve.reserve(trades.size());
    labels_.currency.reserve(trades.size());
    for (std::size_t t = 0; t < trades.size(); ++t) {
        labels_.trade.push_back(tradeCodes(trades[t].terms.id));
        labels_.curve.push_back(curveCodes(trades[t].curve));
        labels_.currency.push_back(swaps_[t] ? currencyCodes(swaps_[t]->legs()[0].currency) : 0);
    }
    // Tenors of the curves in the order the trades first name them.
    Factorizer tenorCodes(labels_.tenorNames);
    std::map<const YieldCurve*, std::vector<std::uint32_t>> tenorsOfCurve;
    for (const std::string& name : labels_.curveNames) {
        const auto found = curves_.find(name);
        if (found == curves_.end() || !found->second) {
            continue;
        }
        std::vector<std::uint32_t>& codes = tenorsOfCurve[found->second.get()];
        for (const std::string& tenor : found->second->instrumentSet().tenors) {
            codes.push_back(tenorCodes(tenor));
        }
    }
    for (const YieldCurve* curve : curveOfMap_) {
        tenorCodesOfMap_.push_back(tenorsOfCurve.at(curve));
    }
    prepareTables(threads);
    // A change during the build is picked up by the next call, as for a single swap.
    growthGeneration_ = calendars->snapshotGeneration();
    growths_ = runningGrowths();
}

Book::~Book() = default;

const YieldCurve* Book::curveOf(std::size_t trade) const {
    return swaps_.at(trade) ? curveOfMap_[curveMapOf_[trade]] : nullptr;
}

std::span<const std::uint32_t> Book::tenorCodes(std::size_t trade) const {
    return swaps_.at(trade) ? std::span<const std::uint32_t>(tenorCodesOfMap_[curveMapOf_[trade]])
                            : std::span<const std::uint32_t>();
}

void Book::prepareTables(unsigned threads) {
    // One daily table per curve, spanning every date its trades read, filled in blocks of
    // days on the workers; a trade the table cannot price takes the plain path.
    std::map<const YieldCurve*, date> lastDates;
    for (std::size_t m = 0; m < curveMaps_.size(); ++m) {
        if (!mapLastDates_[m].is_special()) {
            date& last = lastDates[curveOfMap_[m]];
            last = last.is_special() ? mapLastDates_[m] : std::max(last, mapLastDates_[m]);
        }
    }
    std::vector<const YieldCurve*> tableCurves;
    std::vector<std::pair<std::size_t, std::size_t>> blocks; // (table, first day)
    for (const auto& [curve, last] : lastDates) {
        tableCurves.push_back(curve);
        tables_.emplace_back(curve->valueDate(), last);
        for (std::size_t day = 0; day < tables_.back().days(); day += dayChunk) {
            blocks.emplace_back(tables_.size() - 1, day);
        }
    }
    std::vector<std::atomic<bool>> unusable(tables_.size());
    forEachChunk(blocks.size(), 1, threads, [&](std::size_t begin, std::size_t end) {
        for (std::size_t block = begin; block < end; ++block) {
            const auto [table, first] = blocks[block];
            try {
                tables_[table].fill(*tableCurves[table], first,
                                    std::min(tables_[table].days(), first + dayChunk));
            } catch (...) {
                unusable[table] = true; // the plain path reports it
            }
        }
    });
    tableOfMap_.assign(curveMaps_.size(), nullptr);
    for (std::size_t m = 0; m < curveMaps_.size(); ++m) {
        const auto found = std::find(tableCurves.begin(), tableCurves.end(), curveOfMap_[m]);
        const auto table = static_cast<std::size_t>(found - tableCurves.begin());
        if (found != tableCurves.end() && !unusable[table]) {
            tableOfMap_[m] = &tables_[table];
        }
    }
}

std::vector<std::optional<RealisedGrowth>> Book::runningGrowths() const {
    // One that cannot be found leaves its trades to the plain path, which reports why.
    std::vector<std::optional<RealisedGrowth>> growths(running_.size());
    for (std::size_t g = 0; g < running_.size(); ++g) {
        const RunningPeriod& period = running_[g];
        if (tableOfMap_[period.map] == nullptr) {
            continue;
        }
        const auto& leg = swaps_[period.trade]->legs()[period.leg];
        try {
            const auto& index = IndexRepository::instance().at<OisIndex>(leg.index);
            growths[g] = realisedGrowth(leg, index, *indexDays_[period.map][period.leg], fixings_,
                                        period.start, tableOfMap_[period.map]->valueDate());
        } catch (...) {
            growths[g].reset();
        }
    }
    return growths;
}

const std::vector<std::optional<RealisedGrowth>>&
Book::currentGrowths(std::vector<std::optional<RealisedGrowth>>& fresh) const {
    // Growths found before a calendar changed are found again, as the single swap would.
    if (CalendarRepository::generation() == growthGeneration_) {
        return growths_;
    }
    fresh = runningGrowths();
    return fresh;
}

const RealisedGrowth* Book::knownGrowth(const std::vector<std::optional<RealisedGrowth>>& growths,
                                        std::uint32_t map, std::size_t leg,
                                        const date& start) const {
    const RunningPeriod key{map, leg, start, 0};
    const auto found =
        std::lower_bound(running_.begin(), running_.end(), key,
                         [](const auto& a, const auto& b) { return a.key() < b.key(); });
    if (found == running_.end() || found->key() != key.key()) {
        return nullptr;
    }
    const auto& growth = growths[static_cast<std::size_t>(found - running_.begin())];
    return growth ? &*growth : nullptr;
}

std::vector<BookFailure> Book::price(unsigned threads, std::span<double> leg1,
                                     std::span<double> leg2, std::span<double> npv) const {
    const std::size_t n = swaps_.size();
    if (leg1.size() != n || leg2.size() != n || npv.size() != n) {
        throw std::invalid_argument("Error, a book's prices need one slot per trade.");
    }
    std::vector<std::optional<RealisedGrowth>> fresh;
    const auto& growths = currentGrowths(fresh);
    const auto& tableOfMap = tableOfMap_;
    FailureLog failures;
    forEachChunk(n, tradeChunk, threads, [&](std::size_t begin, std::size_t end) {
        std::uint32_t m = 0;
        // Made once per chunk: its captures do not fit std::function's inline buffer.
        const KnownGrowths known = [&](std::size_t k, const date& start) {
            return knownGrowth(growths, m, k, start);
        };
        std::vector<BookFailure> failed;
        // A private copy: the model takes its curve map by reference.
        std::optional<std::vector<CurveMap>> maps;
        for (std::size_t t = begin; t < end; ++t) {
            leg1[t] = leg2[t] = npv[t] = missing;
            if (!swaps_[t]) {
                continue;
            }
            m = curveMapOf_[t];
            try {
                std::optional<LegValues> values;
                if (tableOfMap[m] != nullptr) {
                    values = tableOfMap[m]->legValues(*swaps_[t], indexDays_[m], known);
                }
                if (!values) {
                    if (!maps) {
                        maps = curveMaps_;
                    }
                    values = ModelDiscountedCashFlow::legValues(*swaps_[t], (*maps)[m], fixings_);
                }
                leg1[t] = values->leg1;
                leg2[t] = values->leg2;
                npv[t] = values->npv;
            } catch (...) {
                failed.push_back({t, {"", currentMessage()}});
            }
        }
        failures.add(failed);
    });
    return failures.merged(buildFailures_);
}

BookPrices Book::price(unsigned threads) const {
    const std::size_t n = swaps_.size();
    BookPrices out{std::vector<double>(n), std::vector<double>(n), std::vector<double>(n), {}};
    out.errors = errorsOf(n, price(threads, out.leg1, out.leg2, out.npv));
    return out;
}

std::vector<BookFailure> Book::risk(RiskMethod method, unsigned threads, const RiskSink& sink,
                                    CallProgress* progress) const {
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
    std::vector<std::optional<RealisedGrowth>> fresh;
    const auto& growths = currentGrowths(fresh);
    FailureLog failures;
    const std::size_t chunk = method == RiskMethod::Bump ? bumpChunk : tradeChunk;
    forEachChunk(swaps_.size(), chunk, threads, [&](std::size_t begin, std::size_t end) {
        std::uint32_t m = 0;
        const KnownGrowths known = [&](std::size_t k, const date& start) {
            return knownGrowth(growths, m, k, start);
        };
        std::vector<BookFailure> failed;
        std::vector<double> leg1;
        std::vector<double> leg2;
        std::vector<double> net;
        // Bumping takes its curve map by reference: a private copy, made when first needed.
        std::optional<std::vector<CurveMap>> maps;
        for (std::size_t t = begin; t < end; ++t) {
            if (progress != nullptr && progress->stop.load(std::memory_order_relaxed)) {
                break;
            }
            const CountDone counted{progress};
            if (!swaps_[t]) {
                continue;
            }
            const std::size_t count = riskOffsets_[t + 1] - riskOffsets_[t];
            try {
                if (method == RiskMethod::Analytic) {
                    leg1.resize(count);
                    leg2.resize(count);
                    net.resize(count);
                    m = curveMapOf_[t];
                    analyticRisk(*swaps_[t], curveMaps_[m], fixings_, leg1, leg2, net, &known);
                    sink(t, leg1, leg2, net);
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
                sink(t, ladder.leg1, ladder.leg2, ladder.net);
            } catch (...) {
                failed.push_back({t, {"", currentMessage()}});
            }
        }
        failures.add(failed);
    });
    return failures.merged(buildFailures_);
}

BookRisk Book::risk(RiskMethod method, unsigned threads) const {
    BookRisk out;
    out.offsets = riskOffsets_;
    const std::size_t rows = riskOffsets_.back();
    out.leg1.assign(rows, missing);
    out.leg2.assign(rows, missing);
    out.net.assign(rows, missing);
    out.errors =
        errorsOf(swaps_.size(),
                 risk(method, threads,
                      [&](std::size_t t, std::span<const double> leg1, std::span<const double> leg2,
                          std::span<const double> net) {
                          std::ranges::copy(leg1, out.leg1.begin() +
                                                      static_cast<std::ptrdiff_t>(riskOffsets_[t]));
                          std::ranges::copy(leg2, out.leg2.begin() +
                                                      static_cast<std::ptrdiff_t>(riskOffsets_[t]));
                          std::ranges::copy(net, out.net.begin() +
                                                     static_cast<std::ptrdiff_t>(riskOffsets_[t]));
                      }));
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
    forEachChunk(n, tradeChunk, threads, [&](std::size_t begin, std::size_t end) {
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
