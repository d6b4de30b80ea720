#pragma once

#include "conventions/generator_swap.hpp"
#include "core/date.hpp"
#include "core/object.hpp"
#include "curves/yield_curve.hpp"
#include "pricing/daily_discount_table.hpp"
#include "pricing/model_discounted_cash_flow.hpp"
#include "products/product_interest_rate_swap.hpp"
#include "products/swap_terms.hpp"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace tsr {

class SwapConventions;

enum class RiskMethod : std::uint8_t { Analytic = 0, Bump = 1 };

// Why a trade has no numbers: the input column at fault (empty when no single column is)
// and the message. A good trade has an empty message.
struct TradeError {
    std::string column;
    std::string message;
};

// A trade that has no numbers from a call, and why.
struct BookFailure {
    std::size_t trade = 0;
    TradeError error;
};

// The trades with an error, in book order.
std::vector<BookFailure> failuresOf(const std::vector<TradeError>& errors);

// One row of a book before it is built.
struct BookTradeInput {
    SwapTerms terms;
    // Index into the book's convention sets.
    std::size_t conventions = 0;
    // Id of the curve that discounts and projects the trade.
    std::string curve;
    // Set when the row was refused before building; the trade then stays unbuilt.
    TradeError error;
};

// A swap generator shared by the trades that use it, or the reason it cannot be built.
struct BookConventionsInput {
    std::shared_ptr<const GeneratorSwap> generator;
    TradeError error;
};

// Per trade, in book order: leg values, or NaN and an error.
struct BookPrices {
    std::vector<double> leg1;
    std::vector<double> leg2;
    std::vector<double> npv;
    std::vector<TradeError> errors;
};

// Key-rate risk of every trade, flattened: trade t owns the entries offsets[t] to
// offsets[t + 1], one per instrument of its curve (none for a failed trade).
struct BookRisk {
    std::vector<std::size_t> offsets;
    std::vector<double> leg1;
    std::vector<double> leg2;
    std::vector<double> net;
    std::vector<TradeError> errors;
};

// Every period of every priced trade, flattened; trade t owns the rows offsets[t] to
// offsets[t + 1], leg 1's periods first.
struct BookCashFlows {
    std::vector<std::size_t> offsets;
    std::vector<std::uint8_t> leg;
    std::vector<date> accrualStartDates;
    std::vector<date> accrualEndDates;
    std::vector<date> paymentDates;
    std::vector<double> dayCountFractions;
    std::vector<double> notionals;
    std::vector<double> discountFactors;
    std::vector<double> rates;
    std::vector<double> margins;
    std::vector<double> flows;
    std::vector<double> presentValues;
    std::vector<TradeError> errors;
};

// What tells a book's trades apart in a table: per trade, codes into lists of distinct
// names, each list in order of first appearance in the book.
struct BookLabels {
    std::vector<std::string> tradeNames;    // the ids of all trades
    std::vector<std::string> curveNames;    // the curve ids of all trades
    std::vector<std::string> currencyNames; // the first legs' currencies of built trades
    std::vector<std::string> tenorNames;    // the instrument tenors of the curves given
    std::vector<std::uint32_t> trade;
    std::vector<std::uint32_t> curve;
    std::vector<std::uint32_t> currency; // 0 for an unbuilt trade
};

// How one curve's quotes move, for the second-order terms of an explain: the change of each
// quote (percent, one per instrument) and the derivative of the curve's Jacobian along that
// change (pillars x instruments, row-major).
struct QuoteMove {
    std::vector<double> changes;
    std::vector<double> jacobianSlope;
};

// The gradient and Hessian of each trade's NPV with respect to the pillar rates of its curve:
// trade t owns the gradient entries offsets[t] to offsets[t + 1] and the row-major Hessian
// entries squareOffsets[t] to squareOffsets[t + 1] (none for a failed trade).
struct BookPillarHessians {
    std::vector<std::size_t> offsets;
    std::vector<std::size_t> squareOffsets;
    std::vector<double> gradient;
    std::vector<double> hessian;
};

// The same summed over the trades of one curve id.
struct CurvePillarHessian {
    std::vector<double> gradient;
    std::vector<double> hessian;
};

// Receives one trade's key-rate risk per 1.00 of each quote of its curve, one entry per
// instrument. Called from worker threads, once for each trade that has risk.
using RiskSink = std::function<void(std::size_t trade, std::span<const double> leg1,
                                    std::span<const double> leg2, std::span<const double> net)>;

// Shared with the workers of a long call: the trades done so far, and a request to stop.
// A stopped call leaves the trades it had not reached without a result.
struct CallProgress {
    std::atomic<std::size_t> done{0};
    std::atomic<bool> stop{false};
};

// A portfolio of swaps priced and risked as one unit of work. Every trade is priced on its
// own curve exactly as the single swap is, whatever the number of threads: each trade's
// numbers go to its own slot, and workers share only immutable objects.
class Book : public Object {
public:
    using CurveSet = std::unordered_map<std::string, std::shared_ptr<const YieldCurve>>;

    // Builds every trade; a trade that cannot be built, or whose curve is missing, keeps
    // an error and the others go on. threads is at least 1.
    Book(const std::vector<BookConventionsInput>& conventions,
         const std::vector<BookTradeInput>& trades, CurveSet curves, FixingsMap fixings,
         unsigned threads);
    // The same trades on other curves and fixings, sharing the built swaps: nothing is built
    // again. A trade whose curve id is missing from `curves` keeps an error.
    Book(const Book& trades, CurveSet curves, FixingsMap fixings, unsigned threads);
    ~Book() override;
    // The tables point into the book itself.
    Book(const Book&) = delete;
    Book& operator=(const Book&) = delete;

    std::size_t size() const { return swaps_.size(); }
    const std::vector<std::shared_ptr<const ProductInterestRateSwap>>& swaps() const {
        return swaps_;
    }
    // Errors of construction; an unbuilt trade has a null swap.
    const std::vector<TradeError>& buildErrors() const { return errors_; }
    // The curve id of each trade, as given.
    const std::vector<std::string>& curveIds() const { return curveIds_; }
    // The curve each built trade is priced on; null for an unbuilt trade.
    const YieldCurve* curveOf(std::size_t trade) const;

    const BookLabels& labels() const { return labels_; }
    // The tenor code of each instrument of the curve the trade is priced on; empty for an
    // unbuilt trade.
    std::span<const std::uint32_t> tenorCodes(std::size_t trade) const;
    // Where each trade's risk starts in a table of every built trade's risk in book order,
    // one row per instrument of its curve: size() + 1 entries.
    const std::vector<std::size_t>& riskOffsets() const { return riskOffsets_; }

    // Writes each trade's values to its slot of leg1, leg2 and npv (size() entries each; NaN
    // for a trade without a price) and returns the trades without one, in book order.
    std::vector<BookFailure> price(unsigned threads, std::span<double> leg1, std::span<double> leg2,
                                   std::span<double> npv) const;
    // Hands each trade's risk to sink and returns the trades without risk, in book order.
    // With progress, counts the trades done there and stops when it asks.
    std::vector<BookFailure> risk(RiskMethod method, unsigned threads, const RiskSink& sink,
                                  CallProgress* progress = nullptr) const;

    // Per trade and instrument of its curve, in the rows of riskOffsets(): delta = risk x
    // change and gamma = change x (Hessian x changes) / 2, per 1.00 of quote, for the moves
    // given by curve id; the trades of a curve without a move get zeros. The Hessian of the
    // quotes is J' H J + sum over pillars k of g_k d2r_k, with H and g the NPV's exact
    // second and first derivatives in the pillar rates and d2r_k along the changes from
    // the Jacobian's slope.
    std::vector<BookFailure> explainTerms(const std::unordered_map<std::string, QuoteMove>& moves,
                                          unsigned threads, std::span<double> delta,
                                          std::span<double> gamma) const;
    // Every trade's pillar gradient and Hessian, or their sums by curve id (failures aside).
    BookPillarHessians pillarHessians(unsigned threads, std::vector<BookFailure>& failures) const;
    std::unordered_map<std::string, CurvePillarHessian>
    summedPillarHessians(unsigned threads, std::vector<BookFailure>& failures) const;
    // Per trade, the cash flows paid after `from` and on or before `to`, received positive:
    // fixed ones as scheduled, floating ones compounded from the book's fixings over their
    // whole period. NaN for a trade whose fixings do not cover such a period.
    std::vector<BookFailure> cash(const date& from, const date& to, unsigned threads,
                                  std::span<double> out) const;
    // The fixings of the business days in [from, to) of the indices the trades project that
    // the book's fixings lack, each the overnight forward rate of its index's curve.
    FixingsMap forwardFixings(const date& from, const date& to) const;

    BookPrices price(unsigned threads) const;
    BookRisk risk(RiskMethod method, unsigned threads) const;
    BookCashFlows cashflows(unsigned threads) const;

private:
    // Everything that depends on the curves: curve maps, running periods, labels and tables.
    void bind(unsigned threads);
    void prepareTables(unsigned threads);
    // Lays out the periods of the trades the tables price without a running period.
    void layOut(unsigned threads);
    // Each daily table's days with their discount factors' derivatives in the pillar rates,
    // made on the first analytic risk call; empty for a table whose curve fails on a day.
    const std::vector<std::vector<YieldCurve::DfSensitivity>>&
    daySensitivities(unsigned threads) const;
    // The gradients of a laid-out trade's legs in the pillar rates, as SwapGradient gives them.
    void flatGradients(std::size_t trade, const YieldCurve& curve,
                       std::span<const YieldCurve::DfSensitivity> days, std::size_t pillars,
                       std::array<std::vector<double>, 2>& gradients) const;
    // Bump risk with one rebuilt curve per curve and bumped quote for the whole book.
    std::vector<BookFailure> bumpRisk(unsigned threads, const RiskSink& sink,
                                      CallProgress* progress) const;
    std::vector<std::optional<RealisedGrowth>> runningGrowths() const;
    // growths_, or when a calendar has changed since they were found, fresh ones in `fresh`.
    const std::vector<std::optional<RealisedGrowth>>&
    currentGrowths(std::vector<std::optional<RealisedGrowth>>& fresh) const;
    // The growth in `growths` of the running period of leg `leg` of the trades of a curve
    // map, starting on `start`; null when it has none.
    const RealisedGrowth* knownGrowth(const std::vector<std::optional<RealisedGrowth>>& growths,
                                      std::uint32_t map, std::size_t leg, const date& start) const;

    // The curve map a trade is priced with: its curve under the first leg's currency and
    // every floating leg's index. Trades with the same curve and conventions share one.
    std::vector<CurveMap> curveMaps_;
    // The index day counts of the legs of the trades of each curve map.
    std::vector<DailyDiscountTable::IndexDays> indexDays_;
    std::vector<std::uint32_t> curveMapOf_;
    std::vector<const YieldCurve*> curveOfMap_;
    CurveSet curves_;
    FixingsMap fixings_;
    std::vector<std::shared_ptr<const ProductInterestRateSwap>> swaps_;
    std::vector<std::string> curveIds_;
    std::vector<TradeError> errors_;
    std::vector<std::string> ids_;
    std::vector<std::size_t> conventionOf_;
    // Per trade, the last date it reads and the first start of a floating period.
    std::vector<date> lastDates_;
    std::vector<date> firstFloatingStarts_;
    // The last date the trades of each curve map read, and the trades with a floating
    // period that starts before their curve's value date: a call sizes its discount tables
    // and finds running periods without visiting every leg.
    std::vector<date> mapLastDates_;
    // The floating periods running on the value date, by curve map, leg and start, each
    // with the first trade that has it: trades that started together share one realised
    // growth, found once per call.
    struct RunningPeriod {
        std::uint32_t map = 0;
        std::size_t leg = 0;
        date start;
        std::size_t trade = 0;
        auto key() const { return std::tie(map, leg, start); }
    };
    std::vector<RunningPeriod> running_;
    // The book's curves are fixed, so their daily discount tables are made once; the map of
    // a trade the tables cannot price has none.
    std::vector<DailyDiscountTable> tables_;
    std::vector<const DailyDiscountTable*> tableOfMap_;
    mutable std::mutex sensitivitiesMutex_;
    mutable std::optional<std::vector<std::vector<YieldCurve::DfSensitivity>>> sensitivities_;
    // Trades laid out for pricing from the daily tables, in compact per-kind arrays that are
    // read in one pass: each leg's terms and the periods it pays after the value date, their
    // dates as days of the table and their accruals as lengths in days. A fraction is read
    // from a table of its day count by length, kept only where it equals the swap's own.
    struct FixedPeriod {
        std::uint16_t payment = 0;
        std::uint16_t length = 0;
    };
    // A floating period accrues from end - length to end. An end of noAccrual marks a period
    // over or of no length, whose rate is 0; a length past its end marks the period running
    // on the value date, carried by the realised growth of its leg.
    struct FloatingPeriod {
        std::uint16_t end = 0;
        std::uint16_t payment = 0;
        std::uint16_t length = 0;
    };
    static constexpr std::uint16_t noAccrual = std::numeric_limits<std::uint16_t>::max();
    static constexpr std::uint32_t noRunning = std::numeric_limits<std::uint32_t>::max();
    struct FlatLeg {
        double rate = 0.0;
        double margin = 0.0;
        double notional = 0.0;
        // Into fixedPeriods_ or floatingPeriods_.
        std::uint32_t first = 0;
        // The slot in running_ of the leg's running period, or noRunning.
        std::uint32_t running = noRunning;
        std::uint16_t count = 0;
        // The day counts of the coupon and of the index, as rows of fractionsByLength_.
        std::uint8_t fractions = 0;
        std::uint8_t taus = 0;
        bool fixed = true;
        bool paid = false;
    };
    enum class Layout : std::uint8_t { None = 0, Flat = 1, Running = 2 };
    // The periods a trade lays out, kept apart per kind until its pieces are joined.
    struct FlatPeriods {
        std::vector<FixedPeriod> fixed;
        std::vector<FloatingPeriod> floating;
    };
    // Lays out one trade's periods at the end of `periods`, its legs' first periods counted
    // from the start of those arrays; a trade that cannot be laid out adds none.
    void layOutTrade(std::size_t trade, FlatPeriods& periods);
    // The values of a laid-out trade; none when the growth of its running period is missing
    // or carries it past its table, where the table path says what it needs.
    std::optional<LegValues>
    flatValues(std::size_t trade, const std::vector<std::optional<RealisedGrowth>>& growths) const;
    std::vector<FixedPeriod> fixedPeriods_;
    std::vector<FloatingPeriod> floatingPeriods_;
    std::vector<FlatLeg> flatLegs_; // two per trade
    std::vector<Layout> laidOut_;
    // Per day count, the fraction of each accrual length in days: 0 is Act/360, 1 Act/365F.
    std::array<std::vector<double>, 2> fractionsByLength_;
    // Per laid-out trade, the pillars of its curve that can move it (movingPillars), or
    // unknownMoving when its own path has to say why it cannot be risked.
    static constexpr std::uint16_t unknownMoving = std::numeric_limits<std::uint16_t>::max();
    std::vector<std::uint16_t> flatMoving_;
    std::vector<std::optional<RealisedGrowth>> growths_;
    std::uint64_t growthGeneration_ = 0;
    std::vector<BookFailure> buildFailures_;
    BookLabels labels_;
    // Per curve map, the tenor code of each instrument of its curve.
    std::vector<std::vector<std::uint32_t>> tenorCodesOfMap_;
    std::vector<std::size_t> riskOffsets_;
};

} // namespace tsr
