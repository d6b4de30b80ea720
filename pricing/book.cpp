#include "pricing/book.hpp"

#include "conventions/index_repository.hpp"
#include "conventions/ois_index.hpp"
#include "conventions/swap_conventions.hpp"
#include "curves/bumped_curve.hpp"
#include "curves/curve_jacobian.hpp"
#include "curves/period_value.hpp"
#include "curves/yield_curve.hpp"
#include "dates/calendar_repository.hpp"
#include "dates/date_arithmetic.hpp"
#include "dates/day_counter.hpp"
#include "pricing/analytic_risk.hpp"
#include "pricing/swap_gradient.hpp"
#include "pricing/thread_count.hpp"
#include "pricing/worker_pool.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <exception>
#include <iterator>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <set>
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
// Days of a discount table filled per unit of work.
constexpr std::size_t dayChunk = 512;

// What a swap's schedules depend on in a book: its convention set and its dates.
struct ScheduleKey {
    std::size_t conventions;
    date start;
    date end;
    bool operator==(const ScheduleKey&) const = default;
};

struct ScheduleKeyHash {
    std::size_t operator()(const ScheduleKey& key) const {
        const auto day = [](const date& d) { return static_cast<std::size_t>(d.day_number()); };
        return (key.conventions * 0x9E3779B97F4A7C15ULL) ^ (day(key.start) << 20U) ^ day(key.end);
    }
};

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
    explicit Factorizer(std::vector<std::string>& names, std::size_t expected = 0) : names_(names) {
        codes_.reserve(expected);
    }
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
      curveIds_(trades.size()), errors_(trades.size()), ids_(trades.size()),
      conventionOf_(trades.size(), 0), lastDates_(trades.size()),
      firstFloatingStarts_(trades.size()) {
    // Every lookup of the build sees the calendars of one moment, even while another thread
    // re-registers one: a trade never mixes an old list with a new one.
    const std::shared_ptr<const CalendarRepository> calendars =
        CalendarRepository::instance().snapshot();
    const CalendarRepository::ScopedView view(calendars.get());
    std::vector<date>& lastDates = lastDates_;
    std::vector<date>& firstFloatingStarts = firstFloatingStarts_;
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
        // Trades of one convention set with the same dates have the same schedules: each is
        // generated once per run of trades and copied to the others.
        std::unordered_map<ScheduleKey, const ProductInterestRateSwap*, ScheduleKeyHash> built;
        for (std::size_t t = begin; t < end; ++t) {
            const BookTradeInput& trade = trades[t];
            curveIds_[t] = trade.curve;
            ids_[t] = trade.terms.id;
            conventionOf_[t] = trade.conventions;
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
                    const ScheduleKey key{trade.conventions, trade.terms.startDate,
                                          trade.terms.endDate};
                    const auto same = built.find(key);
                    if (same == built.end()) {
                        swaps_[t] = std::make_shared<const ProductInterestRateSwap>(
                            *parsed[trade.conventions], trade.terms);
                        built.emplace(key, swaps_[t].get());
                    } else {
                        swaps_[t] = std::make_shared<const ProductInterestRateSwap>(
                            *same->second, *parsed[trade.conventions], trade.terms);
                    }
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

    bind(threads);
}

Book::Book(const Book& trades, CurveSet curves, FixingsMap fixings, unsigned threads)
    : curves_(std::move(curves)), fixings_(std::move(fixings)), swaps_(trades.swaps_),
      curveIds_(trades.curveIds_), errors_(trades.errors_), ids_(trades.ids_),
      conventionOf_(trades.conventionOf_), lastDates_(trades.lastDates_),
      firstFloatingStarts_(trades.firstFloatingStarts_) {
    labels_.tradeNames = trades.labels_.tradeNames;
    labels_.trade = trades.labels_.trade;
    labels_.curveNames = trades.labels_.curveNames;
    labels_.curve = trades.labels_.curve;
    for (std::size_t t = 0; t < swaps_.size(); ++t) {
        if (swaps_[t] && (!curves_.contains(curveIds_[t]) || !curves_.at(curveIds_[t]))) {
            swaps_[t].reset();
            errors_[t] = {"curve", "no curve '" + curveIds_[t] + "' is given"};
        }
    }
    bind(threads);
}

void Book::bind(unsigned threads) {
    // The calendars of the build when it pinned them, or of one moment from here on.
    const CalendarRepository::SteadyView steady;
    const std::size_t n = swaps_.size();
    const std::vector<date>& lastDates = lastDates_;
    const std::vector<date>& firstFloatingStarts = firstFloatingStarts_;
    // One curve map per (curve, conventions) pair in use.
    std::map<std::pair<const YieldCurve*, std::size_t>, std::uint32_t> slots;
    curveMapOf_.assign(n, 0);
    for (std::size_t t = 0; t < n; ++t) {
        if (!swaps_[t]) {
            continue;
        }
        const YieldCurve* curve = curves_.at(curveIds_[t]).get();
        const auto [it, added] = slots.try_emplace({curve, conventionOf_[t]},
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
    riskOffsets_.assign(n + 1, 0);
    for (std::size_t t = 0; t < n; ++t) {
        const YieldCurve* curve = curveOf(t);
        riskOffsets_[t + 1] = riskOffsets_[t] + (curve ? curve->instrumentSet().tenors.size() : 0);
    }

    // A rebound book has its trades' and curves' codes already: the same names.
    if (labels_.trade.size() != n) {
        // Ids are mostly distinct: the table is sized for all of them at once.
        Factorizer tradeCodes(labels_.tradeNames, n);
        Factorizer curveCodes(labels_.curveNames);
        labels_.trade.reserve(n);
        labels_.curve.reserve(n);
        for (std::size_t t = 0; t < n; ++t) {
            labels_.trade.push_back(tradeCodes(ids_[t]));
            labels_.curve.push_back(curveCodes(curveIds_[t]));
        }
    }
    // The trades of a curve map share their first leg's currency.
    Factorizer currencyCodes(labels_.currencyNames);
    std::vector<std::optional<std::uint32_t>> currencyOfMap(curveMaps_.size());
    labels_.currency.assign(n, 0);
    for (std::size_t t = 0; t < n; ++t) {
        if (swaps_[t]) {
            std::optional<std::uint32_t>& code = currencyOfMap[curveMapOf_[t]];
            if (!code) {
                code = currencyCodes(swaps_[t]->legs()[0].currency);
            }
            labels_.currency[t] = *code;
        }
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
    layOut(threads);
    // A change during the build is picked up by the next call, as for a single swap.
    growthGeneration_ = CalendarRepository::current().snapshotGeneration();
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
    sensitivities_.reset();
    for (std::size_t m = 0; m < curveMaps_.size(); ++m) {
        const auto found = std::find(tableCurves.begin(), tableCurves.end(), curveOfMap_[m]);
        const auto table = static_cast<std::size_t>(found - tableCurves.begin());
        if (found != tableCurves.end() && !unusable[table]) {
            tableOfMap_[m] = &tables_[table];
        }
    }
}

void Book::layOut(unsigned threads) {
    const std::size_t n = swaps_.size();
    laidOut_.assign(n, Layout::None);
    flatMoving_.assign(n, unknownMoving);
    flatLegs_.assign(2 * n, FlatLeg{});
    // An accrual inside a table is shorter than the table.
    std::size_t longest = 0;
    for (const DailyDiscountTable& table : tables_) {
        longest = std::max(longest, table.days());
    }
    longest = std::min<std::size_t>(longest, noAccrual);
    const date origin(2000, 1, 1);
    for (std::size_t basis = 0; basis < 2; ++basis) {
        const DayCounter dayCounter(basis == 0 ? DayCounter::Convention::Act360
                                               : DayCounter::Convention::Act365F);
        std::vector<double>& fractions = fractionsByLength_[basis];
        fractions.resize(longest);
        for (std::size_t length = 0; length < longest; ++length) {
            fractions[length] = dayCounter.fraction(
                origin, origin + boost::gregorian::days(static_cast<long>(length)));
        }
    }
    // Each run of trades is laid out into its own arrays on a worker, then the arrays are
    // joined in trade order.
    struct Piece {
        std::size_t begin;
        std::size_t end;
        FlatPeriods periods;
    };
    std::vector<Piece> pieces;
    std::mutex piecesMutex;
    forEachChunk(n, tradeChunk, threads, [&](std::size_t begin, std::size_t end) {
        Piece piece{begin, end, {}};
        // At most one period per payment: reserved once, never copied as it grows.
        std::array<std::size_t, 2> payments{};
        for (std::size_t t = begin; t < end; ++t) {
            if (swaps_[t]) {
                for (const auto& leg : swaps_[t]->legs()) {
                    payments[leg.isFixed ? 0 : 1] += leg.paymentDates.size();
                }
            }
        }
        piece.periods.fixed.reserve(payments[0]);
        piece.periods.floating.reserve(payments[1]);
        for (std::size_t t = begin; t < end; ++t) {
            layOutTrade(t, piece.periods);
        }
        const std::lock_guard lock(piecesMutex);
        pieces.push_back(std::move(piece));
    });
    std::sort(pieces.begin(), pieces.end(),
              [](const Piece& a, const Piece& b) { return a.begin < b.begin; });
    std::array<std::size_t, 2> totals{};
    for (const Piece& piece : pieces) {
        totals[0] += piece.periods.fixed.size();
        totals[1] += piece.periods.floating.size();
    }
    fixedPeriods_ = {};
    floatingPeriods_ = {};
    fixedPeriods_.reserve(totals[0]);
    floatingPeriods_.reserve(totals[1]);
    for (const Piece& piece : pieces) {
        const auto fixedOffset = static_cast<std::uint32_t>(fixedPeriods_.size());
        const auto floatingOffset = static_cast<std::uint32_t>(floatingPeriods_.size());
        for (std::size_t t = piece.begin; t < piece.end; ++t) {
            if (laidOut_[t] != Layout::None) {
                for (FlatLeg* leg : {&flatLegs_[2 * t], &flatLegs_[2 * t + 1]}) {
                    leg->first += leg->fixed ? fixedOffset : floatingOffset;
                }
            }
        }
        fixedPeriods_.insert(fixedPeriods_.end(), piece.periods.fixed.begin(),
                             piece.periods.fixed.end());
        floatingPeriods_.insert(floatingPeriods_.end(), piece.periods.floating.begin(),
                                piece.periods.floating.end());
    }
}

void Book::layOutTrade(std::size_t t, FlatPeriods& periods) {
    if (!swaps_[t] || tableOfMap_[curveMapOf_[t]] == nullptr) {
        return;
    }
    const std::uint32_t m = curveMapOf_[t];
    const DailyDiscountTable& table = *tableOfMap_[m];
    const date v = table.valueDate();
    const long size = static_cast<long>(table.days());
    if (size >= noAccrual) {
        return;
    }
    // The day of a date in the table; none outside it, where the table path gives up.
    const auto day = [&](const date& d) -> std::optional<std::uint16_t> {
        const long k = (d - v).days();
        return k < 0 || k >= size ? std::nullopt
                                  : std::optional<std::uint16_t>(static_cast<std::uint16_t>(k));
    };
    // The length of an accrual whose fraction under `basis` is `fraction`, bit for bit.
    const auto lengthOf = [&](const date& start, const date& end, std::size_t basis,
                              double fraction) -> std::optional<std::uint16_t> {
        const long length = (end - start).days();
        const std::vector<double>& fractions = fractionsByLength_[basis];
        if (length < 0 || static_cast<std::size_t>(length) >= fractions.size() ||
            std::bit_cast<std::uint64_t>(fractions[static_cast<std::size_t>(length)]) !=
                std::bit_cast<std::uint64_t>(fraction)) {
            return std::nullopt;
        }
        return static_cast<std::uint16_t>(length);
    };
    const ProductInterestRateSwap& swap = *swaps_[t];
    const std::size_t firstFixed = periods.fixed.size();
    const std::size_t firstFloating = periods.floating.size();
    std::array<FlatLeg, 2> legs{};
    bool flat = true;
    bool running = false;
    for (std::size_t k = 0; k < 2 && flat; ++k) {
        const auto& leg = swap.legs()[k];
        const auto& indexDays = indexDays_[m][k];
        if (leg.currency != swap.legs()[0].currency || (!leg.isFixed && !indexDays)) {
            flat = false;
            break;
        }
        FlatLeg& out = legs[k];
        out.rate = leg.rate;
        out.margin = leg.margin;
        out.notional = leg.notional;
        out.fixed = leg.isFixed;
        out.paid = leg.isPaid;
        out.first = static_cast<std::uint32_t>(leg.isFixed ? periods.fixed.size()
                                                           : periods.floating.size());
        if (!leg.isFixed) {
            const auto convention = indexDays->convention();
            if (convention != DayCounter::Convention::Act360 &&
                convention != DayCounter::Convention::Act365F) {
                flat = false;
                break;
            }
            out.taus = convention == DayCounter::Convention::Act360 ? 0 : 1;
        }
        // The coupon's day count: the first of the tables that gives every fraction.
        bool found = false;
        for (std::uint8_t basis = 0; basis < 2 && !found; ++basis) {
            found = true;
            for (std::size_t i = 0; i < leg.paymentDates.size() && found; ++i) {
                found = v >= leg.paymentDates[i] ||
                        lengthOf(leg.accrualStartDates[i], leg.accrualEndDates[i], basis,
                                 leg.dayCountFractions[i])
                            .has_value();
            }
            out.fractions = basis;
        }
        if (!found) {
            flat = false;
            break;
        }
        for (std::size_t i = 0; i < leg.paymentDates.size(); ++i) {
            const date& start = leg.accrualStartDates[i];
            const date& end = leg.accrualEndDates[i];
            FloatingPeriod period{noAccrual, 0, 0};
            if (!leg.isFixed) {
                const double tau = indexDays->fraction(start, end);
                if (v >= end || tau == 0.0) {
                    period.end = noAccrual;
                } else if (!day(end) || !lengthOf(start, end, out.taus, tau)) {
                    flat = false; // dates past the table
                    break;
                } else if (start >= v) {
                    period.end = *day(end);
                } else if (!(v < leg.paymentDates[i])) {
                    flat = false; // paid before it ends: the plain path prices it
                    break;
                } else {
                    // Running on the value date: carried by the growth found for the book.
                    const RunningPeriod key{m, k, start, 0};
                    const auto slot = std::lower_bound(
                        running_.begin(), running_.end(), key,
                        [](const auto& a, const auto& b) { return a.key() < b.key(); });
                    if (slot == running_.end() || slot->key() != key.key()) {
                        flat = false;
                        break;
                    }
                    out.running = static_cast<std::uint32_t>(slot - running_.begin());
                    period.end = *day(end);
                    running = true;
                }
            }
            if (!(v < leg.paymentDates[i])) {
                continue;
            }
            const auto payment = day(leg.paymentDates[i]);
            if (!payment) {
                flat = false;
                break;
            }
            period.payment = *payment;
            period.length = *lengthOf(start, end, out.fractions, leg.dayCountFractions[i]);
            if (leg.isFixed) {
                periods.fixed.push_back({period.payment, period.length});
            } else {
                periods.floating.push_back(period);
            }
            ++out.count;
        }
    }
    if (!flat) {
        periods.fixed.resize(firstFixed);
        periods.floating.resize(firstFloating);
        return;
    }
    for (std::size_t k = 0; k < 2; ++k) {
        flatLegs_[2 * t + k] = legs[k];
    }
    laidOut_[t] = running ? Layout::Running : Layout::Flat;
    try {
        const std::size_t moving = movingPillars(*curveOfMap_[m], swap.lastDate());
        if (moving < unknownMoving) {
            flatMoving_[t] = static_cast<std::uint16_t>(moving);
        }
    } catch (...) {
        // Left to the plain path, which reports it.
    }
}

std::optional<LegValues>
Book::flatValues(std::size_t trade,
                 const std::vector<std::optional<RealisedGrowth>>& growths) const {
    const DailyDiscountTable& table = *tableOfMap_[curveMapOf_[trade]];
    const double* dfs = table.factors().data();
    // The operations of DailyDiscountTable::legValues, in its order.
    std::array<double, 2> pvs{};
    for (std::size_t k = 0; k < 2; ++k) {
        const FlatLeg& leg = flatLegs_[2 * trade + k];
        const double* fractions = fractionsByLength_[leg.fractions].data();
        double pv = 0.0;
        if (leg.fixed) {
            const FixedPeriod* period = fixedPeriods_.data() + leg.first;
            for (std::uint32_t i = 0; i < leg.count; ++i, ++period) {
                pv += period::couponValue(fractions[period->length] * leg.notional, leg.rate,
                                          leg.margin, dfs[period->payment]);
            }
            pvs[k] = leg.paid ? -pv : pv;
            continue;
        }
        const double* taus = fractionsByLength_[leg.taus].data();
        const FloatingPeriod* period = floatingPeriods_.data() + leg.first;
        for (std::uint32_t i = 0; i < leg.count; ++i, ++period) {
            double rate = 0.0;
            if (period->end == noAccrual) {
                // Over, or of no length: rate 0.
            } else if (period->length <= period->end) {
                rate = period::forwardRate(dfs[period->end - period->length], dfs[period->end],
                                           taus[period->length]);
            } else {
                const std::optional<RealisedGrowth>& realised = growths[leg.running];
                if (!realised) {
                    return std::nullopt;
                }
                const double tau = taus[period->length];
                if (realised->hasToday) {
                    // Today's fixing covers v to the next business day.
                    const long next = (realised->nextBusinessDay - table.valueDate()).days();
                    if (next < 0 || static_cast<std::size_t>(next) >= table.days()) {
                        return std::nullopt;
                    }
                    rate = period::runningRateFromNext(realised->todayGrowth,
                                                       dfs[static_cast<std::size_t>(next)],
                                                       dfs[period->end], tau);
                } else {
                    rate = period::runningRate(realised->growth, dfs[period->end], tau);
                }
            }
            pv += period::couponValue(fractions[period->length] * leg.notional, rate, leg.margin,
                                      dfs[period->payment]);
        }
        pvs[k] = leg.paid ? -pv : pv;
    }
    double npv = 0.0;
    npv += pvs[0];
    npv += pvs[1];
    return LegValues{pvs[0], pvs[1], npv};
}

const std::vector<std::vector<YieldCurve::DfSensitivity>>&
Book::daySensitivities(unsigned threads) const {
    const std::lock_guard lock(sensitivitiesMutex_);
    if (sensitivities_) {
        return *sensitivities_;
    }
    std::vector<const YieldCurve*> curveOfTable(tables_.size(), nullptr);
    for (std::size_t m = 0; m < curveMaps_.size(); ++m) {
        if (tableOfMap_[m] != nullptr) {
            curveOfTable[static_cast<std::size_t>(tableOfMap_[m] - tables_.data())] =
                curveOfMap_[m];
        }
    }
    std::vector<std::vector<YieldCurve::DfSensitivity>> out(tables_.size());
    std::vector<std::pair<std::size_t, std::size_t>> blocks; // (table, first day)
    for (std::size_t i = 0; i < tables_.size(); ++i) {
        if (curveOfTable[i] == nullptr) {
            continue;
        }
        out[i].resize(tables_[i].days());
        for (std::size_t day = 0; day < tables_[i].days(); day += dayChunk) {
            blocks.emplace_back(i, day);
        }
    }
    std::vector<std::atomic<bool>> unusable(tables_.size());
    forEachChunk(blocks.size(), 1, threads, [&](std::size_t begin, std::size_t end) {
        for (std::size_t block = begin; block < end; ++block) {
            const auto [i, first] = blocks[block];
            const YieldCurve& curve = *curveOfTable[i];
            const date v = tables_[i].valueDate();
            try {
                for (std::size_t day = first; day < std::min(out[i].size(), first + dayChunk);
                     ++day) {
                    out[i][day] = curve.dfSensitivity(
                        curve.point(v + boost::gregorian::days(static_cast<long>(day))));
                }
            } catch (...) {
                unusable[i] = true; // its trades take the plain path, which reports it
            }
        }
    });
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (unusable[i]) {
            out[i].clear();
        }
    }
    sensitivities_ = std::move(out);
    return *sensitivities_;
}

void Book::flatGradients(std::size_t trade, const YieldCurve& curve,
                         std::span<const YieldCurve::DfSensitivity> days, std::size_t pillars,
                         std::array<std::vector<double>, 2>& gradients) const {
    // The operations of SwapGradient::compute, in its order.
    for (std::size_t k = 0; k < 2; ++k) {
        const FlatLeg& leg = flatLegs_[2 * trade + k];
        const double* fractions = fractionsByLength_[leg.fractions].data();
        const double* taus = fractionsByLength_[leg.taus].data();
        std::vector<double>& gradient = gradients[k];
        gradient.assign(pillars, 0.0);
        if (leg.fixed) {
            const FixedPeriod* p = fixedPeriods_.data() + leg.first;
            for (std::uint32_t i = 0; i < leg.count; ++i, ++p) {
                SwapGradient::addCoupon(curve, gradient, fractions[p->length] * leg.notional,
                                        leg.rate, leg.margin, days[p->payment], 0, {}, {});
            }
        } else {
            const FloatingPeriod* p = floatingPeriods_.data() + leg.first;
            for (std::uint32_t i = 0; i < leg.count; ++i, ++p) {
                const double accrual = fractions[p->length] * leg.notional;
                if (p->end == noAccrual) {
                    // A floating period over or of no length, rate 0.
                    SwapGradient::addCoupon(curve, gradient, accrual, 0.0, leg.margin,
                                            days[p->payment], 0, {}, {});
                    continue;
                }
                const YieldCurve::DfSensitivity& start = days[p->end - p->length];
                const YieldCurve::DfSensitivity& stop = days[p->end];
                const period::RateAdjoint adjoint =
                    period::forwardRateAdjoint(start.value, stop.value, taus[p->length]);
                SwapGradient::addCoupon(curve, gradient, accrual, adjoint.rate, leg.margin,
                                        days[p->payment], 2, {&start, &stop},
                                        {adjoint.byFirst, adjoint.bySecond});
            }
        }
        if (leg.paid) {
            for (double& g : gradient) {
                g = -g;
            }
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
            if (laidOut_[t] != Layout::None) {
                if (const std::optional<LegValues> values = flatValues(t, growths)) {
                    leg1[t] = values->leg1;
                    leg2[t] = values->leg2;
                    npv[t] = values->npv;
                    continue;
                }
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
    if (method == RiskMethod::Bump) {
        return bumpRisk(threads, sink, progress);
    }
    // Each curve's Jacobian once, before the workers read it.
    for (const auto& [id, curve] : curves_) {
        try {
            curve->jacobian();
        } catch (...) {
            // The trades on that curve report it.
        }
    }
    std::vector<std::optional<RealisedGrowth>> fresh;
    const auto& growths = currentGrowths(fresh);
    const auto& sensitivities = daySensitivities(threads);
    FailureLog failures;
    forEachChunk(swaps_.size(), tradeChunk, threads, [&](std::size_t begin, std::size_t end) {
        std::uint32_t m = 0;
        const KnownGrowths known = [&](std::size_t k, const date& start) {
            return knownGrowth(growths, m, k, start);
        };
        std::vector<BookFailure> failed;
        std::vector<double> leg1;
        std::vector<double> leg2;
        std::vector<double> net;
        std::array<std::vector<double>, 2> gradients;
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
                leg1.resize(count);
                leg2.resize(count);
                net.resize(count);
                m = curveMapOf_[t];
                const YieldCurve& base = *curveOfMap_[m];
                const auto* days =
                    tableOfMap_[m] == nullptr
                        ? nullptr
                        : &sensitivities[static_cast<std::size_t>(tableOfMap_[m] - tables_.data())];
                if (laidOut_[t] == Layout::Flat && flatMoving_[t] != unknownMoving &&
                    !days->empty() && count == base.instrumentSet().tenors.size()) {
                    // analyticRisk's steps, the gradients read from the daily table.
                    std::fill(leg1.begin(), leg1.end(), 0.0);
                    std::fill(leg2.begin(), leg2.end(), 0.0);
                    std::fill(net.begin(), net.end(), 0.0);
                    const std::size_t moving = flatMoving_[t];
                    if (moving != 0) {
                        flatGradients(t, base, *days, base.pillarRates().size(), gradients);
                        riskOfGradients(base, moving, gradients[0], gradients[1], leg1, leg2, net);
                    }
                } else {
                    analyticRisk(*swaps_[t], curveMaps_[m], fixings_, leg1, leg2, net, &known);
                }
                sink(t, leg1, leg2, net);
            } catch (...) {
                failed.push_back({t, {"", currentMessage()}});
            }
        }
        failures.add(failed);
    });
    return failures.merged(buildFailures_);
}

// Each trade's own bump risk rebuilds its curve twice per quote. Here the curve is rebuilt once
// per quote and direction for all its trades, and each trade is repriced on it: the rebuilt
// curve equals the trade's own on every date the trade reads, so the numbers are the same.
std::vector<BookFailure> Book::bumpRisk(unsigned threads, const RiskSink& sink,
                                        CallProgress* progress) const {
    using Model = ModelDiscountedCashFlow;
    const std::size_t n = swaps_.size();
    struct CurveTrades {
        const YieldCurve* curve = nullptr;
        std::vector<QuoteBump> bumps;
        std::vector<std::size_t> trades;
    };
    std::vector<CurveTrades> groups;
    std::map<const YieldCurve*, std::size_t> groupOf;
    std::vector<date> horizons(n);
    // The first failure of each trade, in the order its own bump risk would meet it:
    // (bump, direction) pairs in order; failures before any bump come first.
    struct Failure {
        std::size_t order = 0;
        std::string message;
    };
    std::vector<std::optional<Failure>> firstFailure(n);
    std::size_t early = 0;
    for (std::size_t t = 0; t < n; ++t) {
        if (!swaps_[t]) {
            ++early;
            continue;
        }
        try {
            horizons[t] = swaps_[t]->lastDate();
        } catch (...) {
            firstFailure[t] = Failure{0, currentMessage()};
            ++early;
            continue;
        }
        const YieldCurve* curve = curveOf(t);
        const auto [it, added] = groupOf.try_emplace(curve, groups.size());
        if (added) {
            groups.push_back({curve, Model::pillarQuotes(*curve), {}});
        }
        groups[it->second].trades.push_back(t);
    }
    if (progress != nullptr) {
        progress->done.fetch_add(early, std::memory_order_relaxed);
    }
    std::vector<std::pair<std::size_t, std::size_t>> tasks;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        if (groups[g].bumps.empty() && progress != nullptr) {
            progress->done.fetch_add(groups[g].trades.size(), std::memory_order_relaxed);
        }
        for (std::size_t b = 0; b < groups[g].bumps.size(); ++b) {
            tasks.emplace_back(g, b);
        }
    }

    const std::size_t rows = riskOffsets_.back();
    std::vector<double> leg1(rows, 0.0);
    std::vector<double> leg2(rows, 0.0);
    std::vector<double> net(rows, 0.0);
    std::mutex failureMutex;
    forEachChunk(tasks.size(), 1, threads, [&](std::size_t begin, std::size_t end) {
        for (std::size_t task = begin; task < end; ++task) {
            if (progress != nullptr && progress->stop.load(std::memory_order_relaxed)) {
                return;
            }
            const auto [g, b] = tasks[task];
            const CurveTrades& group = groups[g];
            const QuoteBump& bump = group.bumps[b];
            const std::vector<date>& pillars = group.curve->pillarDates();
            std::vector<std::size_t> reached;
            for (const std::size_t t : group.trades) {
                // Pillars solved together all move with every quote.
                if (group.curve->pillarsTogether() ||
                    Model::bumpReaches(bump, pillars, horizons[t])) {
                    reached.push_back(t);
                }
            }
            std::vector<std::pair<std::size_t, Failure>> failed;
            std::vector<LegValues> up(reached.size());
            try {
                BumpedCurve bumped(*group.curve, pillars.size() - 1);
                std::map<std::uint32_t, CurveMap> bumpedMaps;
                const auto mapOf = [&](std::size_t t) -> CurveMap& {
                    const auto [slot, added] = bumpedMaps.try_emplace(curveMapOf_[t]);
                    if (added) {
                        for (const auto& entry : curveMaps_[curveMapOf_[t]]) {
                            slot->second.emplace(entry.first, &bumped.curve());
                        }
                    }
                    return slot->second;
                };
                // In the pillar's own terms: a futures row's rate, not its price.
                const double quote = group.curve->pillarInstruments()[bump.pillar].quote;
                std::vector<bool> ok(reached.size(), true);
                for (int direction = 0; direction < 2; ++direction) {
                    bumped.solve(bump.pillar, direction == 0 ? quote + Model::bumpSize
                                                             : quote - Model::bumpSize);
                    for (std::size_t i = 0; i < reached.size(); ++i) {
                        if (!ok[i]) {
                            continue;
                        }
                        const std::size_t t = reached[i];
                        try {
                            const LegValues values =
                                Model::legValues(*swaps_[t], mapOf(t), fixings_);
                            if (direction == 0) {
                                up[i] = values;
                                continue;
                            }
                            const std::size_t row = riskOffsets_[t] + bump.instrument;
                            leg1[row] = (up[i].leg1 - values.leg1) / (2.0 * Model::bumpSize);
                            leg2[row] = (up[i].leg2 - values.leg2) / (2.0 * Model::bumpSize);
                            net[row] = (up[i].npv - values.npv) / (2.0 * Model::bumpSize);
                        } catch (...) {
                            ok[i] = false;
                            failed.push_back(
                                {t, Failure{1 + 2 * b + static_cast<std::size_t>(direction),
                                            currentMessage()}});
                        }
                    }
                }
            } catch (...) {
                const std::string message = currentMessage();
                for (const std::size_t t : reached) {
                    failed.push_back({t, Failure{1 + 2 * b, message}});
                }
            }
            if (progress != nullptr) {
                const std::size_t count = group.trades.size();
                const std::size_t bumps = group.bumps.size();
                progress->done.fetch_add((b + 1) * count / bumps - b * count / bumps,
                                         std::memory_order_relaxed);
            }
            if (!failed.empty()) {
                const std::lock_guard<std::mutex> lock(failureMutex);
                for (auto& [t, failure] : failed) {
                    if (!firstFailure[t] || failure.order < firstFailure[t]->order) {
                        firstFailure[t] = std::move(failure);
                    }
                }
            }
        }
    });
    if (progress != nullptr && progress->stop.load()) {
        return buildFailures_;
    }

    std::vector<BookFailure> failures;
    for (std::size_t t = 0; t < n; ++t) {
        if (!swaps_[t]) {
            continue;
        }
        if (firstFailure[t]) {
            failures.push_back({t, {"", std::move(firstFailure[t]->message)}});
            continue;
        }
        const std::size_t first = riskOffsets_[t];
        const std::size_t count = riskOffsets_[t + 1] - first;
        sink(t, std::span<const double>(leg1).subspan(first, count),
             std::span<const double>(leg2).subspan(first, count),
             std::span<const double>(net).subspan(first, count));
    }
    FailureLog log;
    log.add(failures);
    return log.merged(buildFailures_);
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

std::vector<BookFailure> Book::explainTerms(const std::unordered_map<std::string, QuoteMove>& moves,
                                            unsigned threads, std::span<double> delta,
                                            std::span<double> gamma) const {
    const std::size_t rows = riskOffsets_.back();
    if (delta.size() != rows || gamma.size() != rows) {
        throw std::invalid_argument("Error, an explain needs one slot per risk row.");
    }
    // Per moved curve: its move, its Jacobian and the move of its pillar rates, J x changes.
    struct Moved {
        const QuoteMove* move = nullptr;
        const CurveJacobian* jacobian = nullptr;
        std::vector<double> pillarMove;
    };
    std::map<const YieldCurve*, Moved> moved;
    for (const auto& [id, move] : moves) {
        const auto found = curves_.find(id);
        if (found == curves_.end() || !found->second) {
            throw std::invalid_argument("Error, the book has no curve '" + id + "'.");
        }
        const YieldCurve& curve = *found->second;
        const CurveJacobian& jacobian = curve.jacobian();
        const std::size_t pillars = jacobian.pillars();
        const std::size_t instruments = jacobian.instruments();
        if (move.changes.size() != instruments ||
            move.jacobianSlope.size() != pillars * instruments) {
            throw std::invalid_argument("Error, the move of curve '" + id +
                                        "' has not one change per instrument and one slope per "
                                        "pillar and instrument.");
        }
        Moved& entry = moved[&curve];
        entry.move = &move;
        entry.jacobian = &jacobian;
        entry.pillarMove.assign(pillars, 0.0);
        for (std::size_t i = 0; i < pillars; ++i) {
            for (std::size_t c = 0; c < instruments; ++c) {
                entry.pillarMove[i] += jacobian(i, c) * move.changes[c];
            }
        }
    }
    std::vector<const Moved*> movedOfMap(curveMaps_.size(), nullptr);
    for (std::size_t m = 0; m < curveMaps_.size(); ++m) {
        const auto found = moved.find(curveOfMap_[m]);
        movedOfMap[m] = found == moved.end() ? nullptr : &found->second;
    }
    std::fill(delta.begin(), delta.end(), 0.0);
    std::fill(gamma.begin(), gamma.end(), 0.0);
    std::vector<std::optional<RealisedGrowth>> fresh;
    const auto& growths = currentGrowths(fresh);
    FailureLog failures;
    forEachChunk(swaps_.size(), tradeChunk, threads, [&](std::size_t begin, std::size_t end) {
        std::uint32_t m = 0;
        const KnownGrowths known = [&](std::size_t k, const date& start) {
            return knownGrowth(growths, m, k, start);
        };
        std::vector<BookFailure> failed;
        SwapGradient gradient;
        std::vector<double> net;
        for (std::size_t t = begin; t < end; ++t) {
            if (!swaps_[t]) {
                continue;
            }
            m = curveMapOf_[t];
            const Moved* entry = movedOfMap[m];
            if (entry == nullptr) {
                continue;
            }
            const std::size_t row = riskOffsets_[t];
            try {
                gradient.computeSecondOrder(*swaps_[t], curveMaps_[m], fixings_, *curveOfMap_[m],
                                            &known, entry->pillarMove);
                const std::size_t pillars = entry->pillarMove.size();
                net.resize(pillars);
                for (std::size_t i = 0; i < pillars; ++i) {
                    net[i] = gradient.gradient(0)[i] + gradient.gradient(1)[i];
                }
                const std::vector<double>& curvature = gradient.hessianTimesDirection();
                const CurveJacobian& jacobian = *entry->jacobian;
                const std::vector<double>& changes = entry->move->changes;
                const std::vector<double>& slope = entry->move->jacobianSlope;
                const std::size_t instruments = changes.size();
                // Pillars past the last one the trade reads add nothing; the quote of pillar
                // k moves pillars k and later only.
                std::size_t reach = pillars;
                while (reach > 0 && net[reach - 1] == 0.0 && curvature[reach - 1] == 0.0) {
                    --reach;
                }
                const std::vector<std::size_t>& instrumentOf = curveOfMap_[m]->pillarRows();
                // Pillars solved together each move with every quote.
                const bool global = curveOfMap_[m]->pillarsTogether();
                for (std::size_t k = 0; k < (global ? pillars : reach); ++k) {
                    const std::size_t c = instrumentOf[k];
                    double risk = 0.0;
                    double second = 0.0;
                    for (std::size_t i = global ? 0 : k; i < reach; ++i) {
                        risk += net[i] * jacobian(i, c);
                        second +=
                            curvature[i] * jacobian(i, c) + net[i] * slope[i * instruments + c];
                    }
                    delta[row + c] = risk * changes[c];
                    gamma[row + c] = 0.5 * changes[c] * second;
                }
            } catch (...) {
                std::fill(delta.begin() + static_cast<std::ptrdiff_t>(row),
                          delta.begin() + static_cast<std::ptrdiff_t>(riskOffsets_[t + 1]),
                          missing);
                std::fill(gamma.begin() + static_cast<std::ptrdiff_t>(row),
                          gamma.begin() + static_cast<std::ptrdiff_t>(riskOffsets_[t + 1]),
                          missing);
                failed.push_back({t, {"", currentMessage()}});
            }
        }
        failures.add(failed);
    });
    return failures.merged(buildFailures_);
}

BookPillarHessians Book::pillarHessians(unsigned threads,
                                        std::vector<BookFailure>& failuresOut) const {
    const std::size_t n = swaps_.size();
    BookPillarHessians out;
    out.offsets.assign(n + 1, 0);
    out.squareOffsets.assign(n + 1, 0);
    for (std::size_t t = 0; t < n; ++t) {
        const YieldCurve* curve = curveOf(t);
        const std::size_t pillars = curve ? curve->pillarRates().size() : 0;
        out.offsets[t + 1] = out.offsets[t] + pillars;
        out.squareOffsets[t + 1] = out.squareOffsets[t] + pillars * pillars;
    }
    out.gradient.assign(out.offsets.back(), missing);
    out.hessian.assign(out.squareOffsets.back(), missing);
    std::vector<std::optional<RealisedGrowth>> fresh;
    const auto& growths = currentGrowths(fresh);
    FailureLog failures;
    forEachChunk(n, tradeChunk, threads, [&](std::size_t begin, std::size_t end) {
        std::uint32_t m = 0;
        const KnownGrowths known = [&](std::size_t k, const date& start) {
            return knownGrowth(growths, m, k, start);
        };
        std::vector<BookFailure> failed;
        SwapGradient gradient;
        for (std::size_t t = begin; t < end; ++t) {
            if (!swaps_[t]) {
                continue;
            }
            m = curveMapOf_[t];
            try {
                gradient.computeSecondOrder(*swaps_[t], curveMaps_[m], fixings_, *curveOfMap_[m],
                                            &known, {});
                const std::size_t pillars = out.offsets[t + 1] - out.offsets[t];
                for (std::size_t i = 0; i < pillars; ++i) {
                    out.gradient[out.offsets[t] + i] =
                        gradient.gradient(0)[i] + gradient.gradient(1)[i];
                }
                std::ranges::copy(gradient.hessian(),
                                  out.hessian.begin() +
                                      static_cast<std::ptrdiff_t>(out.squareOffsets[t]));
            } catch (...) {
                failed.push_back({t, {"", currentMessage()}});
            }
        }
        failures.add(failed);
    });
    failuresOut = failures.merged(buildFailures_);
    return out;
}

std::unordered_map<std::string, CurvePillarHessian>
Book::summedPillarHessians(unsigned threads, std::vector<BookFailure>& failuresOut) const {
    // Fixed blocks of trades, summed block after block: the same sums on any thread count.
    constexpr std::size_t block = 256;
    const std::size_t n = swaps_.size();
    const std::size_t blocks = (n + block - 1) / block;
    const std::size_t curves = labels_.curveNames.size();
    std::vector<std::size_t> pillarsOf(curves, 0);
    for (std::size_t t = 0; t < n; ++t) {
        if (const YieldCurve* curve = curveOf(t)) {
            pillarsOf[labels_.curve[t]] = curve->pillarRates().size();
        }
    }
    std::vector<CurvePillarHessian> partial(blocks * curves);
    for (std::size_t b = 0; b < blocks; ++b) {
        for (std::size_t c = 0; c < curves; ++c) {
            partial[b * curves + c].gradient.assign(pillarsOf[c], 0.0);
            partial[b * curves + c].hessian.assign(pillarsOf[c] * pillarsOf[c], 0.0);
        }
    }
    std::vector<std::optional<RealisedGrowth>> fresh;
    const auto& growths = currentGrowths(fresh);
    FailureLog failures;
    forEachChunk(blocks, 1, threads, [&](std::size_t first, std::size_t last) {
        std::uint32_t m = 0;
        const KnownGrowths known = [&](std::size_t k, const date& start) {
            return knownGrowth(growths, m, k, start);
        };
        std::vector<BookFailure> failed;
        SwapGradient gradient;
        for (std::size_t t = first * block; t < std::min(n, last * block); ++t) {
            if (!swaps_[t]) {
                continue;
            }
            m = curveMapOf_[t];
            CurvePillarHessian& sum = partial[(t / block) * curves + labels_.curve[t]];
            try {
                gradient.computeSecondOrder(*swaps_[t], curveMaps_[m], fixings_, *curveOfMap_[m],
                                            &known, {});
                for (std::size_t i = 0; i < sum.gradient.size(); ++i) {
                    sum.gradient[i] += gradient.gradient(0)[i] + gradient.gradient(1)[i];
                }
                for (std::size_t i = 0; i < sum.hessian.size(); ++i) {
                    sum.hessian[i] += gradient.hessian()[i];
                }
            } catch (...) {
                failed.push_back({t, {"", currentMessage()}});
            }
        }
        failures.add(failed);
    });
    failuresOut = failures.merged(buildFailures_);
    std::unordered_map<std::string, CurvePillarHessian> out;
    for (std::size_t c = 0; c < curves; ++c) {
        if (pillarsOf[c] == 0) {
            continue;
        }
        CurvePillarHessian& total = out[labels_.curveNames[c]];
        total.gradient.assign(pillarsOf[c], 0.0);
        total.hessian.assign(pillarsOf[c] * pillarsOf[c], 0.0);
        for (std::size_t b = 0; b < blocks; ++b) {
            const CurvePillarHessian& part = partial[b * curves + c];
            for (std::size_t i = 0; i < part.gradient.size(); ++i) {
                total.gradient[i] += part.gradient[i];
            }
            for (std::size_t i = 0; i < part.hessian.size(); ++i) {
                total.hessian[i] += part.hessian[i];
            }
        }
    }
    return out;
}

std::vector<BookFailure> Book::cash(const date& from, const date& to, unsigned threads,
                                    std::span<double> out) const {
    if (out.size() != swaps_.size()) {
        throw std::invalid_argument("Error, a book's cash needs one slot per trade.");
    }
    FailureLog failures;
    forEachChunk(swaps_.size(), tradeChunk, threads, [&](std::size_t begin, std::size_t end) {
        std::vector<BookFailure> failed;
        for (std::size_t t = begin; t < end; ++t) {
            out[t] = missing;
            if (!swaps_[t]) {
                continue;
            }
            try {
                double total = 0.0;
                for (const auto& leg : swaps_[t]->legs()) {
                    const OisIndex* index = nullptr;
                    if (!leg.isFixed) {
                        index = &IndexRepository::instance().at<OisIndex>(leg.index);
                    }
                    double paid = 0.0;
                    for (std::size_t i = 0; i < leg.paymentDates.size(); ++i) {
                        if (!(from < leg.paymentDates[i] && leg.paymentDates[i] <= to)) {
                            continue;
                        }
                        double rate = leg.rate;
                        if (index != nullptr) {
                            const DayCounter dayCounter(index->dayCount());
                            const date start = leg.accrualStartDates[i];
                            const date stop = leg.accrualEndDates[i];
                            const double tau = dayCounter.fraction(start, stop);
                            rate = tau == 0.0 ? 0.0
                                              : (realisedGrowth(leg, *index, dayCounter, fixings_,
                                                                start, stop)
                                                     .growth -
                                                 1.0) /
                                                    tau;
                        }
                        paid += leg.dayCountFractions[i] * leg.notional * (rate + leg.margin);
                    }
                    total += leg.isPaid ? -paid : paid;
                }
                out[t] = total;
            } catch (...) {
                failed.push_back({t, {"", currentMessage()}});
            }
        }
        failures.add(failed);
    });
    return failures.merged(buildFailures_);
}

FixingsMap Book::forwardFixings(const date& from, const date& to) const {
    FixingsMap out;
    std::set<std::string> done;
    for (std::size_t m = 0; m < curveMaps_.size(); ++m) {
        for (const auto& [key, curve] : curveMaps_[m]) {
            if (done.contains(key) || !IndexRepository::instance().contains(key)) {
                continue;
            }
            const auto* index =
                dynamic_cast<const OisIndex*>(&IndexRepository::instance().at<Index>(key));
            if (index == nullptr) {
                continue;
            }
            done.insert(key);
            std::set<date> known;
            if (const auto given = fixings_.find(key); given != fixings_.end()) {
                known.insert(given->second.first.begin(), given->second.first.end());
            }
            const auto calendar = CalendarRepository::current().get(index->calendar());
            const DayCounter dayCounter(index->dayCount());
            auto& [dates, values] = out[key];
            for (date d = from; d < to; d += boost::gregorian::days(1)) {
                if (!calendar->isBusinessDay(d) || known.contains(d)) {
                    continue;
                }
                const date next = addBusinessDays(d, 1, *calendar);
                dates.push_back(d);
                values.push_back(period::forwardRate(curve->df(d), curve->df(next),
                                                     dayCounter.fraction(d, next)));
            }
            if (dates.empty()) {
                out.erase(key);
            }
        }
    }
    return out;
}

} // namespace tsr
