#pragma once

#include "core/date.hpp"
#include "core/object_tree.hpp"
#include "curves/curve_future.hpp"
#include "curves/yield_curve.hpp"
#include "dates/tenor.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tsr {

class Calendar;
class CurveFuture;
class GeneratorSwap;
class Product;
class ProductInterestRateSwap;

// The four instrument columns must have one entry per instrument.
void requireSameSize(const YieldCurveInstruments& instruments);

// Pillar times must start after the value date and increase strictly; throws
// std::invalid_argument naming the offending pillar otherwise.
void requirePillarAfter(double previousTime, double time, const std::string& description);

// The swap that a quoted instrument stands for: spot start on the generator's
// calendar, end one tenor later, fixed rate quote / 100, notionals 1. An empty
// id becomes the generator's id and the tenor text.
std::shared_ptr<const Product> makeCurveInstrument(const date& valueDate,
                                                   std::shared_ptr<const GeneratorSwap> generator,
                                                   const Tenor& tenor, double quote,
                                                   std::string id = {});

// Makes the curve instruments of one value date, as makeCurveInstrument does. It keeps
// one description tree and changes only its id, dates and rate from one instrument to the
// next, which spares building and tearing down a tree for each.
class CurveInstrumentMaker {
public:
    explicit CurveInstrumentMaker(const date& valueDate);

    CurveInstrumentMaker(const CurveInstrumentMaker&) = delete;
    CurveInstrumentMaker& operator=(const CurveInstrumentMaker&) = delete;

    std::shared_ptr<const Product> make(std::shared_ptr<const GeneratorSwap> generator,
                                        const Tenor& tenor, double quote, std::string id = {});

    // The swap from `start` to `end` on the generator, as a swap with those dates is built.
    std::shared_ptr<const Product> makeDated(std::shared_ptr<const GeneratorSwap> generator,
                                             const date& start, const date& end, double quote,
                                             std::string id);

private:
    std::shared_ptr<const Product> build(std::shared_ptr<const GeneratorSwap> generator,
                                         const date& start, const date& end, double quote,
                                         std::string id);

    date valueDate_;
    ObjectTree tree_;
    // Nodes of tree_ rewritten for each instrument.
    ObjectTree* id_;
    ObjectTree* start_;
    ObjectTree* end_;
    ObjectTree* rate_;
    // The calendar of the last generator seen.
    std::shared_ptr<const GeneratorSwap> generator_;
    std::shared_ptr<const Calendar> calendar_;
};

// The curve instruments of recent curve builds, by value date, generator and tenor. Nothing
// else shapes an instrument but its quote, and the quote only sets the fixed rate (which the
// swap checks to be finite), which the pillar solve takes from the quote itself
// (PillarPricer::setQuote). So a curve rebuilt with new quotes, on every tick, reuses the
// instruments of the last build instead of generating their schedules again. One cache per
// thread, so that threads never share one; it is emptied when it grows past a thousand
// instruments.
class CurveInstrumentCache {
public:
    // The instrument for these inputs. When it has to be made, `maker` makes it, and is
    // created for the value date first if empty. Its own fixed rate is that of the quote it
    // was first made with.
    static std::shared_ptr<const Product> get(const date& valueDate,
                                              std::shared_ptr<const GeneratorSwap> generator,
                                              const Tenor& tenor, double quote,
                                              std::optional<CurveInstrumentMaker>& maker);

    // The same for a swap between two dates.
    static std::shared_ptr<const Product> getDated(const date& valueDate,
                                                   std::shared_ptr<const GeneratorSwap> generator,
                                                   const date& start, const date& end, double quote,
                                                   std::optional<CurveInstrumentMaker>& maker);
};

// The end of the last accrual period of a curve swap: the pillar of a dated row.
date accrualEnd(const Product& product);

// The curve-construction value of the instrument of pillar k, equal to the last
// bit to price() on the same curve, for repeated use while that pillar is
// solved. A date on or before pillar k-1 has a discount factor that only the
// pillars before k decide (pillar k moves the segment after k-1 and the
// extrapolation), so those factors, and the leading periods made of them
// alone, are computed once per solve by prepare(). The rest is summed in the
// same order and with the same operations as price().
//
// Pricers of consecutive pillars usually read the same leading dates (swaps of one
// generator share their early periods). A pricer made or prepared right after the one of
// the pillar before takes the places and discount factors of those dates from it rather
// than from the curve, which gives the same numbers.
class PillarPricer {
public:
    // Throws "Error: unsupported curve construction instrument." for anything but a swap.
    PillarPricer(const YieldCurve& curve, std::size_t k,
                 const std::shared_ptr<const Product>& product);

    // The pricer of a curve's own instrument k: its swap, or its futures row, whose value is
    // the rate the curve implies less the quoted rate and the convexity, in percent.
    // `previous`, if given, is the pricer of pillar k-1 on the same curve.
    PillarPricer(const YieldCurve& curve, std::size_t k,
                 const YieldCurve::PillarInstrument& instrument,
                 const PillarPricer* previous = nullptr);

    // Fixed rate of the first leg from a quote in percent, as makeCurveInstrument sets it.
    // prepare() must follow.
    void setQuote(double quote);

    // Takes the values fixed by the pillars before k; call again whenever they change.
    // `previous`, if given, is the pricer of pillar k-1 on the same curve.
    void prepare(const YieldCurve& curve, const PillarPricer* previous = nullptr);

    // The instrument's value on the curve as it now is.
    double value(const YieldCurve& curve);

    std::size_t pillar() const { return pillar_; }
    const ProductInterestRateSwap& swap() const { return *swap_; }
    // The futures row priced, or null for a swap.
    const CurveFuture* future() const { return future_.get(); }

    // Whether the instrument reads a date after its own pillar (a payment after the accrual
    // end of a dated swap), so that its value depends on the next pillar too.
    bool looksAhead() const { return looksAhead_; }
    // The last date the instrument reads.
    const date& lastDate() const { return lastDate_; }

    struct Period {
        // Indices into the instrument's dates; start and end only for a floating leg.
        std::uint32_t payment;
        std::uint32_t start;
        std::uint32_t end;
        double fraction;
    };
    // What a swap's value reads, from its schedule alone: its distinct dates, ascending, and
    // per leg the periods that accrue (non-zero fraction), in order.
    struct Layout {
        std::vector<date> dates;
        std::array<std::vector<Period>, 2> periods;
    };

private:
    struct Leg {
        bool isFixed = false;
        bool isPaid = false;
        double rate = 0.0;
        double margin = 0.0;
        const std::vector<Period>* periods = nullptr;
        // The first settledPeriods periods read only dates on or before the previous pillar.
        std::size_t settledPeriods = 0;
        double settledValue = 0.0;
    };

    PillarPricer(const YieldCurve& curve, std::size_t k,
                 const std::shared_ptr<const Product>& product, bool keepLayout,
                 const PillarPricer* previous);

    // Finds the places of dates_ on the curve, from `previous` where it reads the same dates.
    void locate(const YieldCurve& curve, std::size_t k, const PillarPricer* previous);

    // How many leading dates this pricer reads in common with `previous`.
    std::size_t commonDates(const PillarPricer& previous) const;

    // The leg's value summed over periods [first, last) onto `value`, in price()'s order.
    double accrue(const Leg& leg, std::size_t first, std::size_t last, double value) const;

    std::shared_ptr<const Product> product_;
    const ProductInterestRateSwap* swap_;
    std::size_t pillar_;
    std::array<Leg, 2> legs_;
    // The distinct dates the instrument reads, ascending (a futures row's periods are empty),
    // with their places on the curve and their discount factors; the first firstMoving_ lie
    // on or before the previous pillar.
    std::shared_ptr<const Layout> layout_;
    std::vector<YieldCurve::Point> points_;
    std::vector<double> dfs_;
    std::size_t firstMoving_ = 0;
    bool looksAhead_ = false;
    date lastDate_;
    std::shared_ptr<const CurveFuture> future_;
    // Where each futures term's start and end sit among the dates.
    std::vector<std::uint32_t> termSlots_;
    double convexity_ = 0.0;
    double target_ = 0.0;
    // The curve and its version when dfs_ last matched it in full.
    const YieldCurve* pricedOn_ = nullptr;
    std::uint64_t pricedVersion_ = 0;
};

// Sets the rate of pillar k so that the product prices to zero on the curve.
// The pillar keeps the last trial rate evaluated (the root itself when a bracket
// end prices to exactly zero). Returns the number of price evaluations.
std::size_t solvePillar(YieldCurve& curve, std::size_t k,
                        const std::shared_ptr<const Product>& product);

// The same solve with a pricer built for pillar k of this curve; prepares it first, from
// `previous`, the pricer of pillar k-1, when given.
std::size_t solvePillar(YieldCurve& curve, PillarPricer& pricer,
                        const PillarPricer* previous = nullptr);

// The quote each pillar's instrument has on the curve, in its row's terms: a swap's par rate
// in percent, a futures row's price (100 less the forward the curve implies and the
// convexity). A solved
// curve gives back its quotes.
std::vector<double> repricedQuotes(const YieldCurve& curve);

// Solves the pillars of the pricers from `first` on, in order. When an instrument reads a
// date after its own pillar, its value depends on the pillars up to the one covering that
// date: those pillars form a block, which takes Newton steps pillar after pillar, pass after
// pass, from the rates it has, until no rate of it moves. The block that holds `first` is
// solved from its start.
void solvePillars(YieldCurve& curve, std::vector<PillarPricer>& pricers, std::size_t first);

} // namespace tsr
