#include "curves/bootstrap.hpp"

#include "conventions/generator_swap.hpp"
#include "curves/curve_future.hpp"
#include "curves/period_value.hpp"
#include "curves/yield_curve.hpp"
#include "curves/yield_curve_builder.hpp"
#include "dates/calendar_repository.hpp"
#include "dates/date_arithmetic.hpp"
#include "dates/tenor.hpp"
#include "products/product_interest_rate_swap.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/math/tools/toms748_solve.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>

namespace tsr {

namespace {

// Each pillar is searched between -100% and +100%, with at most this many
// price evaluations, the two bracket ends included.
constexpr double lowerRate = -1.0;
constexpr double upperRate = 1.0;
constexpr std::uintmax_t evaluationBudget = 100;

// The leg's value: fixed rate or curve-implied simple forward plus margin, discounted,
// negated for a paid leg.
double legValue(const ProductInterestRateSwap::SwapLeg& leg, const YieldCurve& curve) {
    double value = 0.0;
    for (std::size_t j = 0; j < leg.paymentDates.size(); ++j) {
        const double fraction = leg.dayCountFractions[j];
        if (fraction == 0.0) {
            continue; // a period adjusted to zero length accrues nothing
        }
        double rate = leg.rate;
        if (!leg.isFixed) {
            rate = leg.margin + period::forwardRate(curve.df(leg.accrualStartDates[j]),
                                                    curve.df(leg.accrualEndDates[j]), fraction);
        }
        value += period::instrumentCoupon(curve.df(leg.paymentDates[j]), rate, fraction);
    }
    return leg.isPaid ? -value : value;
}

const std::string unsupportedInstrument = "Error: unsupported curve construction instrument.";

} // namespace

void requirePillarAfter(double previousTime, double time, const std::string& description) {
    if (!(time > previousTime)) {
        throw std::invalid_argument("Error, pillar dates must be strictly increasing: " +
                                    description);
    }
}

void requireSameSize(const YieldCurveInstruments& instruments) {
    const std::size_t n = instruments.generators.size();
    if (instruments.tenors.size() != n || instruments.quotes.size() != n ||
        instruments.inUse.size() != n ||
        (!instruments.starts.empty() && instruments.starts.size() != n) ||
        (!instruments.ends.empty() && instruments.ends.size() != n)) {
        throw std::invalid_argument("Instruments input should be of the same size.");
    }
}

double price(YieldCurve* curve, std::shared_ptr<const Product> product) {
    const auto* swap = dynamic_cast<const ProductInterestRateSwap*>(product.get());
    if (swap == nullptr) {
        throw std::runtime_error(unsupportedInstrument);
    }
    if (curve == nullptr) {
        throw std::invalid_argument("Error, no curve to price on.");
    }
    const auto& legs = swap->legs();
    return legValue(legs[0], *curve) + legValue(legs[1], *curve);
}

std::shared_ptr<const Product> makeCurveInstrument(const date& valueDate,
                                                   std::shared_ptr<const GeneratorSwap> generator,
                                                   const Tenor& tenor, double quote,
                                                   std::string id) {
    CurveInstrumentMaker maker(valueDate);
    return maker.make(std::move(generator), tenor, quote, std::move(id));
}

namespace {

template <class T> std::shared_ptr<const Object> boxed(T&& value) {
    return std::make_shared<const BoxedValue>(std::forward<T>(value));
}

ObjectTree& addLeaf(ObjectTree& node, const std::string& key, double value) {
    return node.push_back({key, ObjectTree(boxed(value))})->second;
}

} // namespace

// The tree: "id", "start date", "end date", "leg1" {"rate", "notional"}, "leg2" {"margin",
// "notional"}, as the dotted keys leg1.rate, leg2.margin, leg1.notional, leg2.notional lay
// it out. Dates are held as dates, so the swap reads them back without a trip through text.
CurveInstrumentMaker::CurveInstrumentMaker(const date& valueDate) : valueDate_(valueDate) {
    id_ = &addLeaf(tree_, "id", 0.0);
    start_ = &addLeaf(tree_, "start date", 0.0);
    end_ = &addLeaf(tree_, "end date", 0.0);
    ObjectTree& fixedLeg = tree_.push_back({"leg1", ObjectTree()})->second;
    rate_ = &addLeaf(fixedLeg, "rate", 0.0);
    addLeaf(fixedLeg, "notional", 1.0);
    ObjectTree& floatingLeg = tree_.push_back({"leg2", ObjectTree()})->second;
    addLeaf(floatingLeg, "margin", 0.0);
    addLeaf(floatingLeg, "notional", 1.0);
}

std::shared_ptr<const Product>
CurveInstrumentMaker::make(std::shared_ptr<const GeneratorSwap> generator, const Tenor& tenor,
                           double quote, std::string id) {
    if (generator != generator_) {
        calendar_ = CalendarRepository::current().get(generator->calendar());
        generator_ = generator;
    }
    const date start = addBusinessDays(valueDate_, generator->startDelay(), *calendar_);
    const date end = addTenor(start, tenor);
    if (id.empty()) {
        id = generator->id() + " " + tenor.toString();
    }
    return build(std::move(generator), start, end, quote, std::move(id));
}

std::shared_ptr<const Product>
CurveInstrumentMaker::makeDated(std::shared_ptr<const GeneratorSwap> generator, const date& start,
                                const date& end, double quote, std::string id) {
    return build(std::move(generator), start, end, quote, std::move(id));
}

std::shared_ptr<const Product>
CurveInstrumentMaker::build(std::shared_ptr<const GeneratorSwap> generator, const date& start,
                            const date& end, double quote, std::string id) {
    id_->data() = boxed(std::move(id));
    start_->data() = boxed(start);
    end_->data() = boxed(end);
    rate_->data() = boxed(quote / 100.0);
    return std::make_shared<const ProductInterestRateSwap>(std::move(generator), tree_);
}

namespace {

struct InstrumentKey {
    date valueDate;
    const GeneratorSwap* generator;
    Tenor::Unit unit;
    int amount;
    // Day numbers of a dated swap's start and end; zero for a tenor.
    std::uint32_t startDay = 0;
    std::uint32_t endDay = 0;

    bool operator==(const InstrumentKey&) const = default;
};

struct InstrumentKeyHash {
    std::size_t operator()(const InstrumentKey& key) const {
        std::size_t h = std::hash<const void*>{}(key.generator);
        for (const std::size_t part :
             {static_cast<std::size_t>(key.valueDate.day_number()),
              static_cast<std::size_t>(key.unit), static_cast<std::size_t>(key.amount),
              static_cast<std::size_t>(key.startDay), static_cast<std::size_t>(key.endDay)}) {
            h = h * 1000003U ^ part;
        }
        return h;
    }
};

struct CachedInstrument {
    // Keeps the generator, and so the address in the key, alive.
    std::shared_ptr<const GeneratorSwap> generator;
    std::shared_ptr<const Product> instrument;
};

constexpr std::size_t instrumentCacheLimit = 1024;

} // namespace

namespace {

template <class Make>
std::shared_ptr<const Product> cachedInstrument(const InstrumentKey& key,
                                                std::shared_ptr<const GeneratorSwap> generator,
                                                double quote, Make&& make) {
    thread_local std::unordered_map<InstrumentKey, CachedInstrument, InstrumentKeyHash> cache;
    // Schedules depend on the calendars: a calendar registered since makes every entry stale.
    thread_local std::uint64_t cachedGeneration = CalendarRepository::generation();
    if (const std::uint64_t now = CalendarRepository::generation(); now != cachedGeneration) {
        cache.clear();
        cachedGeneration = now;
    }
    // The swap refuses a rate that is not finite: such a quote always goes to the swap.
    const auto found = std::isfinite(quote) ? cache.find(key) : cache.end();
    if (found != cache.end()) {
        return found->second.instrument;
    }
    auto instrument = make();
    if (cache.size() >= instrumentCacheLimit) {
        cache.clear();
    }
    cache.emplace(key, CachedInstrument{std::move(generator), instrument});
    return instrument;
}

} // namespace

std::shared_ptr<const Product>
CurveInstrumentCache::get(const date& valueDate, std::shared_ptr<const GeneratorSwap> generator,
                          const Tenor& tenor, double quote,
                          std::optional<CurveInstrumentMaker>& maker) {
    const InstrumentKey key{valueDate, generator.get(), tenor.unit(), tenor.amount()};
    return cachedInstrument(key, generator, quote, [&] {
        if (!maker) {
            maker.emplace(valueDate);
        }
        return maker->make(generator, tenor, quote);
    });
}

std::shared_ptr<const Product> CurveInstrumentCache::getDated(
    const date& valueDate, std::shared_ptr<const GeneratorSwap> generator, const date& start,
    const date& end, double quote, std::optional<CurveInstrumentMaker>& maker) {
    const InstrumentKey key{valueDate,
                            generator.get(),
                            Tenor::Unit{},
                            0,
                            static_cast<std::uint32_t>(start.day_number()),
                            static_cast<std::uint32_t>(end.day_number())};
    return cachedInstrument(key, generator, quote, [&] {
        if (!maker) {
            maker.emplace(valueDate);
        }
        return maker->makeDated(generator, start, end, quote,
                                generator->id() + " " + datedLabel(start, end));
    });
}

date accrualEnd(const Product& product) {
    const auto* swap = dynamic_cast<const ProductInterestRateSwap*>(&product);
    if (swap == nullptr) {
        throw std::runtime_error(unsupportedInstrument);
    }
    product.lastDate(); // refuses a swap without periods
    date end = swap->legs()[0].accrualEndDates.back();
    for (const auto& leg : swap->legs()) {
        end = std::max(end, leg.accrualEndDates.back());
    }
    return end;
}

namespace {

using Layout = PillarPricer::Layout;

std::shared_ptr<const Layout> makeLayout(const ProductInterestRateSwap& swap) {
    auto layout = std::make_shared<Layout>();
    // Every date the instrument's value reads, once each and in order.
    std::vector<date>& dates = layout->dates;
    std::size_t count = 0;
    for (const auto& leg : swap.legs()) {
        count += leg.paymentDates.size() * (leg.isFixed ? 1 : 3);
    }
    dates.reserve(count);
    for (const auto& leg : swap.legs()) {
        dates.insert(dates.end(), leg.paymentDates.begin(), leg.paymentDates.end());
        if (!leg.isFixed) {
            dates.insert(dates.end(), leg.accrualStartDates.begin(), leg.accrualStartDates.end());
            dates.insert(dates.end(), leg.accrualEndDates.begin(), leg.accrualEndDates.end());
        }
    }
    std::sort(dates.begin(), dates.end());
    dates.erase(std::unique(dates.begin(), dates.end()), dates.end());
    const auto slot = [&](const date& d) {
        return static_cast<std::uint32_t>(std::lower_bound(dates.begin(), dates.end(), d) -
                                          dates.begin());
    };
    for (std::size_t l = 0; l < layout->periods.size(); ++l) {
        const ProductInterestRateSwap::SwapLeg& source = swap.legs()[l];
        std::vector<PillarPricer::Period>& periods = layout->periods[l];
        periods.reserve(source.paymentDates.size());
        for (std::size_t j = 0; j < source.paymentDates.size(); ++j) {
            const double fraction = source.dayCountFractions[j];
            if (fraction == 0.0) {
                continue; // a period adjusted to zero length accrues nothing
            }
            PillarPricer::Period period{slot(source.paymentDates[j]), 0, 0, fraction};
            if (!source.isFixed) {
                period.start = slot(source.accrualStartDates[j]);
                period.end = slot(source.accrualEndDates[j]);
            }
            periods.push_back(period);
        }
    }
    return layout;
}

// The layouts of the curve instruments of recent builds, which the instrument cache keeps
// and shares from one build to the next: one per thread, emptied past a thousand entries.
std::shared_ptr<const Layout> cachedLayout(const std::shared_ptr<const Product>& product,
                                           const ProductInterestRateSwap& swap) {
    struct Entry {
        // Keeps the product, and so the address in the key, alive.
        std::shared_ptr<const Product> product;
        std::shared_ptr<const Layout> layout;
    };
    thread_local std::unordered_map<const Product*, Entry> cache;
    if (const auto found = cache.find(product.get()); found != cache.end()) {
        return found->second.layout;
    }
    auto layout = makeLayout(swap);
    if (cache.size() >= instrumentCacheLimit) {
        cache.clear();
    }
    cache.emplace(product.get(), Entry{product, layout});
    return layout;
}

} // namespace

PillarPricer::PillarPricer(const YieldCurve& curve, std::size_t k,
                           const std::shared_ptr<const Product>& product)
    : PillarPricer(curve, k, product, false, nullptr) {}

PillarPricer::PillarPricer(const YieldCurve& curve, std::size_t k,
                           const std::shared_ptr<const Product>& product, bool keepLayout,
                           const PillarPricer* previous)
    : product_(product), swap_(dynamic_cast<const ProductInterestRateSwap*>(product.get())),
      pillar_(k) {
    if (swap_ == nullptr) {
        throw std::runtime_error(unsupportedInstrument);
    }
    const std::vector<double>& times = curve.pillarTimes();
    if (k >= times.size()) {
        throw std::out_of_range("Error, no pillar " + std::to_string(k) + " in a curve of " +
                                std::to_string(times.size()) + " pillars.");
    }
    layout_ = keepLayout ? cachedLayout(product_, *swap_) : makeLayout(*swap_);
    locate(curve, k, previous);
    const std::vector<date>& dates = layout_->dates;
    looksAhead_ = !dates.empty() && dates.back() > curve.pillarDates()[k];
    lastDate_ = dates.empty() ? curve.pillarDates()[k] : dates.back();

    for (std::size_t l = 0; l < legs_.size(); ++l) {
        const ProductInterestRateSwap::SwapLeg& source = swap_->legs()[l];
        Leg& leg = legs_[l];
        leg.isFixed = source.isFixed;
        leg.isPaid = source.isPaid;
        leg.rate = source.rate;
        leg.margin = source.margin;
        leg.periods = &layout_->periods[l];
        // The leading periods whose dates all come before the moving ones are settled.
        for (const Period& period : *leg.periods) {
            const bool settled =
                period.payment < firstMoving_ &&
                (leg.isFixed || (period.start < firstMoving_ && period.end < firstMoving_));
            if (!settled) {
                break;
            }
            ++leg.settledPeriods;
        }
    }
}

PillarPricer::PillarPricer(const YieldCurve& curve, std::size_t k,
                           const YieldCurve::PillarInstrument& instrument,
                           const PillarPricer* previous)
    : swap_(nullptr), pillar_(k), future_(instrument.future), convexity_(instrument.convexity) {
    if (!future_) {
        *this = PillarPricer(curve, k, instrument.swap, true, previous);
        return;
    }
    if (k >= curve.pillarDates().size()) {
        throw std::out_of_range("Error, no pillar " + std::to_string(k) + " in a curve of " +
                                std::to_string(curve.pillarDates().size()) + " pillars.");
    }
    looksAhead_ = future_->lastDate() > curve.pillarDates()[k];
    lastDate_ = future_->lastDate();
    auto layout = std::make_shared<Layout>();
    layout->dates = future_->dates();
    layout_ = std::move(layout);
    locate(curve, k, previous);
    const std::vector<date>& dates = layout_->dates;
    termSlots_.reserve(2 * future_->termCount());
    for (std::size_t i = 0; i < future_->termCount(); ++i) {
        for (const bool end : {false, true}) {
            termSlots_.push_back(static_cast<std::uint32_t>(
                std::lower_bound(dates.begin(), dates.end(), future_->termDate(i, end)) -
                dates.begin()));
        }
    }
}

std::size_t PillarPricer::commonDates(const PillarPricer& previous) const {
    const std::vector<date>& mine = layout_->dates;
    const std::vector<date>& theirs = previous.layout_->dates;
    if (&mine == &theirs) {
        return mine.size();
    }
    const std::size_t n = std::min(mine.size(), theirs.size());
    std::size_t i = 0;
    while (i < n && mine[i] == theirs[i]) {
        ++i;
    }
    return i;
}

void PillarPricer::locate(const YieldCurve& curve, std::size_t k, const PillarPricer* previous) {
    // The places of the dates on the curve depend on its pillar dates alone.
    const std::vector<date>& dates = layout_->dates;
    points_.reserve(dates.size());
    std::size_t common = 0;
    if (previous != nullptr) {
        common = commonDates(*previous);
        points_.assign(previous->points_.begin(),
                       previous->points_.begin() + static_cast<std::ptrdiff_t>(common));
    }
    for (std::size_t i = common; i < dates.size(); ++i) {
        points_.push_back(curve.point(dates[i]));
    }
    // Those on or before the previous pillar keep their discount factors while pillar k is
    // solved.
    const double previousPillarTime = k == 0 ? 0.0 : curve.pillarTimes()[k - 1];
    while (firstMoving_ < points_.size() && points_[firstMoving_].time <= previousPillarTime) {
        ++firstMoving_;
    }
    dfs_.assign(dates.size(), 0.0);
}

void PillarPricer::setQuote(double quote) {
    if (future_) {
        target_ = quote - convexity_;
        return;
    }
    if (legs_[0].isFixed) {
        legs_[0].rate = quote / 100.0;
    }
}

double PillarPricer::accrue(const Leg& leg, std::size_t first, std::size_t last,
                            double value) const {
    const std::vector<Period>& periods = *leg.periods;
    for (std::size_t j = first; j < last; ++j) {
        const Period& period = periods[j];
        double rate = leg.rate;
        if (!leg.isFixed) {
            rate = leg.margin +
                   period::forwardRate(dfs_[period.start], dfs_[period.end], period.fraction);
        }
        value += period::instrumentCoupon(dfs_[period.payment], rate, period.fraction);
    }
    return value;
}

void PillarPricer::prepare(const YieldCurve& curve, const PillarPricer* previous) {
    // The previous pricer's factors are the curve's own while the curve has not changed since
    // it last valued.
    std::size_t reused = 0;
    if (previous != nullptr && previous->pricedOn_ == &curve &&
        previous->pricedVersion_ == curve.version()) {
        reused = std::min(commonDates(*previous), firstMoving_);
        std::copy_n(previous->dfs_.begin(), reused, dfs_.begin());
    }
    for (std::size_t i = reused; i < firstMoving_; ++i) {
        dfs_[i] = curve.df(points_[i]);
    }
    pricedOn_ = nullptr;
    if (future_) {
        return;
    }
    for (Leg& leg : legs_) {
        leg.settledValue = accrue(leg, 0, leg.settledPeriods, 0.0);
    }
}

double PillarPricer::value(const YieldCurve& curve) {
    for (std::size_t i = firstMoving_; i < dfs_.size(); ++i) {
        dfs_[i] = curve.df(points_[i]);
    }
    pricedOn_ = &curve;
    pricedVersion_ = curve.version();
    if (future_) {
        return future_->rateWithTerms([&](std::size_t i, bool end) {
            return dfs_[termSlots_[2 * i + (end ? 1 : 0)]];
        }) - target_;
    }
    std::array<double, 2> values{};
    for (std::size_t l = 0; l < legs_.size(); ++l) {
        const Leg& leg = legs_[l];
        const double value = accrue(leg, leg.settledPeriods, leg.periods->size(), leg.settledValue);
        values[l] = leg.isPaid ? -value : value;
    }
    return values[0] + values[1];
}

std::size_t solvePillar(YieldCurve& curve, std::size_t k,
                        const std::shared_ptr<const Product>& product) {
    if (dynamic_cast<const ProductInterestRateSwap*>(product.get()) == nullptr) {
        // The first trial is set before the instrument is looked at.
        curve.updateRate(k, upperRate);
        throw std::runtime_error(unsupportedInstrument);
    }
    PillarPricer pricer(curve, k, product);
    return solvePillar(curve, pricer);
}

std::size_t solvePillar(YieldCurve& curve, PillarPricer& pricer, const PillarPricer* previous) {
    const std::size_t k = pricer.pillar();
    pricer.prepare(curve, previous);
    std::size_t evaluations = 0;
    // Every trial rate stays in the curve, so the last one evaluated is kept.
    auto objective = [&](double rate) {
        ++evaluations;
        curve.updateRate(k, rate);
        return pricer.value(curve);
    };
    const double atUpper = objective(upperRate);
    const double atLower = objective(lowerRate);
    if (atUpper == 0.0) {
        curve.updateRate(k, upperRate);
        return evaluations;
    }
    if (atLower == 0.0) {
        return evaluations;
    }
    // Same signs at both ends make Boost raise its bracketing domain_error.
    std::uintmax_t iterations = evaluationBudget - 2;
    boost::math::tools::toms748_solve(
        objective, lowerRate, upperRate, atLower, atUpper,
        boost::math::tools::eps_tolerance<double>(std::numeric_limits<double>::digits), iterations);
    return evaluations;
}

std::vector<double> repricedQuotes(const YieldCurve& curve) {
    const auto& instruments = curve.pillarInstruments();
    std::vector<double> quotes;
    quotes.reserve(instruments.size());
    for (std::size_t k = 0; k < instruments.size(); ++k) {
        const auto& instrument = instruments[k];
        if (instrument.future) {
            quotes.push_back(100.0 - (instrument.future->rate(curve) + instrument.convexity));
            continue;
        }
        // The value is linear in the fixed rate: the par rate is where the line crosses zero.
        PillarPricer pricer(curve, k, instrument);
        pricer.setQuote(instrument.quote);
        pricer.prepare(curve);
        const double atQuote = pricer.value(curve);
        pricer.setQuote(instrument.quote + 1.0);
        pricer.prepare(curve);
        const double slope = pricer.value(curve) - atQuote;
        quotes.push_back(instrument.quote - atQuote / slope);
    }
    return quotes;
}

namespace {} // namespace

namespace {

// Moves the rate of a pillar by one Newton step on its instrument's value, whose slope in
// the rate is found by a difference on the first step and kept (NaN until then). A step
// longer than 1% falls back to the root search between -100% and +100%. Returns whether it
// stepped.
bool stepPillar(YieldCurve& curve, PillarPricer& pricer, const PillarPricer* previous,
                double& slope) {
    constexpr double width = 1e-2;
    constexpr double difference = 1e-7;
    const std::size_t k = pricer.pillar();
    const double rate = curve.pillarRates()[k];
    pricer.prepare(curve, previous);
    const double atRate = pricer.value(curve);
    if (std::isnan(slope)) {
        curve.updateRate(k, rate + difference);
        slope = (pricer.value(curve) - atRate) / difference;
    }
    const double step = atRate / slope;
    if (!(std::abs(step) <= width) || !(std::abs(rate - step) < upperRate)) {
        slope = std::numeric_limits<double>::quiet_NaN();
        solvePillar(curve, pricer, previous);
        return false;
    }
    curve.updateRate(k, rate - step);
    return true;
}

} // namespace

void solvePillars(YieldCurve& curve, std::vector<PillarPricer>& pricers, std::size_t first) {
    const std::size_t n = pricers.size();
    const std::vector<date>& pillars = curve.pillarDates();
    // The last pillar whose segment instrument k reads.
    const auto reach = [&](std::size_t k) {
        if (!pricers[k].looksAhead()) {
            return k;
        }
        const auto covering =
            std::lower_bound(pillars.begin(), pillars.end(), pricers[k].lastDate());
        return covering == pillars.end() ||
                       static_cast<std::size_t>(covering - pillars.begin()) >= n
                   ? n - 1
                   : static_cast<std::size_t>(covering - pillars.begin());
    };
    // Each pass moves a pillar by a small fraction of the last pass's move of the next one;
    // a move below 1e-15 changes no quote by more than about 1e-13 percent. Moves that stop
    // shrinking below `noise` are the rounding of the values, and end the passes too.
    constexpr int maxPasses = 60;
    constexpr double settled = 1e-15;
    constexpr double noise = 4e-15;
    std::vector<double> before;
    std::vector<double> slopes;
    const auto previousOf = [&](std::size_t k) -> const PillarPricer* {
        return k == 0 ? nullptr : &pricers[k - 1];
    };
    std::size_t start = 0;
    while (start < n) {
        std::size_t end = reach(start);
        for (std::size_t k = start + 1; k <= end; ++k) {
            end = std::max(end, reach(k));
        }
        if (end == start && end >= first) {
            solvePillar(curve, pricers[start], previousOf(start));
        } else if (end >= first) {
            // A block: Newton steps from the rates as they are, pillar after pillar, until it
            // settles.
            slopes.assign(end - start + 1, std::numeric_limits<double>::quiet_NaN());
            double lastMoved = std::numeric_limits<double>::infinity();
            for (int pass = 0; pass < maxPasses; ++pass) {
                before.assign(curve.pillarRates().begin() + static_cast<std::ptrdiff_t>(start),
                              curve.pillarRates().begin() + static_cast<std::ptrdiff_t>(end + 1));
                double moved = 0.0;
                bool stepped = true;
                for (std::size_t k = start; k <= end; ++k) {
                    stepped =
                        stepPillar(curve, pricers[k], previousOf(k), slopes[k - start]) && stepped;
                    moved = std::max(moved, std::abs(curve.pillarRates()[k] - before[k - start]));
                }
                if (moved <= settled || (stepped && moved <= noise && moved > 0.5 * lastMoved)) {
                    break;
                }
                lastMoved = moved;
                if (pass + 1 == maxPasses) {
                    // Not settled: each pillar solved in full on the others as they are.
                    for (std::size_t k = start; k <= end; ++k) {
                        solvePillar(curve, pricers[k], previousOf(k));
                    }
                }
            }
        }
        start = end + 1;
    }
}

} // namespace tsr
