#include "curves/yield_curve.hpp"

#include "conventions/generator_future.hpp"
#include "conventions/generator_repository.hpp"
#include "conventions/generator_swap.hpp"
#include "curves/bootstrap.hpp"
#include "curves/cubic_spline.hpp"
#include "curves/curve_future.hpp"
#include "curves/curve_jacobian.hpp"
#include "curves/global_solve.hpp"
#include "curves/monotone_convex.hpp"
#include "dates/convention_name.hpp"
#include "dates/date_arithmetic.hpp"
#include "dates/tenor.hpp"
#include "products/product.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace tsr {

namespace {

std::string pillarDescription(std::size_t k, const date& d) {
    return "pillar " + std::to_string(k) + " (" + boost::gregorian::to_iso_extended_string(d) + ")";
}

constexpr std::array<std::pair<YieldCurveInterpolation, std::string_view>, 4> interpolationNames{{
    {YieldCurveInterpolation::LinearRates, "LinearRates"},
    {YieldCurveInterpolation::LinearLogDf, "LinearLogDf"},
    {YieldCurveInterpolation::LogCubic, "LogCubic"},
    {YieldCurveInterpolation::MonotoneConvex, "MonotoneConvex"},
}};

constexpr std::size_t npos = static_cast<std::size_t>(-1);

// The date "cubic from" names: a YYYY-MM-DD date, or a tenor from the value date.
date cubicFromDate(const date& valueDate, const std::string& text) {
    if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
        try {
            return boost::gregorian::from_simple_string(text);
        } catch (const std::exception&) {
            throw std::invalid_argument("Error, \"cubic from\" is not a valid date: " + text);
        }
    }
    try {
        return addTenor(valueDate, Tenor(text));
    } catch (const std::exception& error) {
        throw std::invalid_argument("Error, \"cubic from\" is neither a tenor nor a date: " + text +
                                    " (" + error.what() + ")");
    }
}

// The formulas of the hot paths live here, with internal linkage, so that the compiler
// inlines them into df even in position-independent code.

double timeFrom(const date& valueDate, const date& d) {
    return static_cast<double>((d - valueDate).days()) / 365.0;
}

// Segment i with t(i) < t <= t(i+1) inside the pillar range, clamped to the end segments.
std::size_t segmentOf(const std::vector<double>& times, double t) {
    const std::size_t n = times.size();
    if (n < 2) {
        return 0;
    }
    const auto p =
        static_cast<std::size_t>(std::lower_bound(times.begin(), times.end(), t) - times.begin());
    if (p == n) {
        return n - 2;
    }
    return p == 0 ? 0 : p - 1;
}

double weightOf(const std::vector<double>& times, std::size_t i, double t) {
    return (t - times[i]) / (times[i + 1] - times[i]);
}

// Zero rate linear in time, times t.
double linearRates(const std::vector<double>& rates, std::size_t i, double w, double t) {
    return ((1.0 - w) * rates[i] + w * rates[i + 1]) * t;
}

// Log discount linear in time.
double linearLogDf(const std::vector<double>& logDiscounts, std::size_t i, double w) {
    return (1.0 - w) * logDiscounts[i] + w * logDiscounts[i + 1];
}

[[noreturn]] void throwNoPillars() {
    throw std::runtime_error("Error, the curve has no pillars.");
}

} // namespace

YieldCurveInterpolation parseInterpolation(std::string_view name) {
    return lookupConventionName(name, interpolationNames);
}

std::vector<std::string_view> interpolationNameList() {
    std::vector<std::string_view> names;
    for (const auto& [kind, name] : interpolationNames) {
        names.push_back(name);
    }
    return names;
}

std::string futuresLabel(const GeneratorFuture& generator, const std::string& contractMonth) {
    return std::to_string(generator.months()) + "M FUT " + contractMonth;
}

std::string futuresContractMonth(const GeneratorFuture& generator, const std::string& cell) {
    std::string month = cell;
    if (const std::string label = futuresLabel(generator, ""); month.starts_with(label)) {
        month.erase(0, label.size());
    }
    generator.referencePeriod(month);
    return month;
}

std::string datedLabel(const date& start, const date& end) {
    // Written by hand: the label is made on every build, and the stream-based formatter
    // costs more than the rest of a dated row's setup.
    const auto iso = [](const date& d) {
        if (d.is_special()) {
            return boost::gregorian::to_iso_extended_string(d);
        }
        const auto ymd = d.year_month_day();
        char text[32];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", static_cast<int>(ymd.year),
                      static_cast<int>(ymd.month), static_cast<int>(ymd.day));
        return std::string(text);
    };
    return iso(start) + "/" + iso(end);
}

double curveTime(const date& valueDate, const date& d) {
    return timeFrom(valueDate, d);
}

YieldCurve::YieldCurve(const date& valueDate, const std::vector<date>& dates,
                       const std::vector<double>& rates, YieldCurveInterpolation interpolation,
                       std::size_t splineFrom, const std::vector<CurveTurn>& turns)
    : valueDate_(valueDate), interpolationKind_(interpolation) {
    setTurns(turns);
    if (dates.size() != rates.size()) {
        throw std::invalid_argument(
            "Error, expected one rate per pillar: " + std::to_string(dates.size()) +
            " pillar dates and " + std::to_string(rates.size()) + " rates.");
    }
    dates_.reserve(dates.size());
    times_.reserve(dates.size());
    rates_.reserve(dates.size());
    for (std::size_t k = 0; k < dates.size(); ++k) {
        appendPillar(dates[k], rates[k], [&] { return pillarDescription(k, dates[k]); });
    }
    if (interpolationKind_ != YieldCurveInterpolation::LinearRates) {
        forwards_.resize(times_.size());
        logDiscounts_.resize(times_.size());
    }
    if (interpolationKind_ == YieldCurveInterpolation::LogCubic) {
        splineFrom_ = splineFrom;
        setUpSpline();
    } else if (interpolationKind_ == YieldCurveInterpolation::MonotoneConvex) {
        setUpMonotone();
    }
    update(rates);
}

template <class RowText>
void YieldCurve::requireAfterLastPillar(const date& pillar, const std::string& row,
                                        RowText&& rowText) const {
    if (!pillarRows_.empty() && !(curveTime(valueDate_, pillar) > times_.back())) {
        throw std::invalid_argument("Error, pillar dates must be strictly increasing: " + row +
                                    " ends on " + boost::gregorian::to_iso_extended_string(pillar) +
                                    ", not after " + rowText(pillarRows_.back()) + " ending on " +
                                    boost::gregorian::to_iso_extended_string(dates_.back()) + ".");
    }
}

template <class RowText>
void YieldCurve::addFuturesPillar(std::size_t i, const GeneratorFuture& generator,
                                  const std::string& month, const std::string& what,
                                  RowText&& rowText) {
    const double price = instruments_.quotes[i];
    requireFuturesPrice(price, what);
    const double convexity = instruments_.convexities.empty() ? 0.0 : instruments_.convexities[i];
    if (!std::isfinite(convexity)) {
        throw std::invalid_argument("Error, the convexity of " + what + " is not finite.");
    }
    auto future = std::make_shared<const CurveFuture>(valueDate_, generator, month,
                                                      instruments_.fixings, what);
    const date pillar = future->end();
    requireAfterLastPillar(pillar, what, rowText);
    const double rate = 100.0 - price;
    appendPillar(pillar, rate / 100.0, [&] { return what; });
    pillarInstruments_.push_back({nullptr, rate, std::move(future), convexity / 100.0});
    pillarRows_.push_back(i);
}

YieldCurve::YieldCurve(std::string label, date valueDate, std::string currency,
                       std::string interpolation, const YieldCurveInstruments& instruments,
                       std::string cubicFrom)
    : label_(std::move(label)), valueDate_(valueDate), currency_(std::move(currency)),
      interpolationName_(std::move(interpolation)), instruments_(instruments),
      interpolationKind_(parseInterpolation(interpolationName_)), cubicFrom_(std::move(cubicFrom)) {
    requireSameSize(instruments_);
    std::optional<date> cubicFromPoint;
    if (!cubicFrom_.empty()) {
        if (interpolationKind_ == YieldCurveInterpolation::LinearRates ||
            interpolationKind_ == YieldCurveInterpolation::MonotoneConvex) {
            throw std::invalid_argument(
                "Error, \"cubic from\" needs the \"LogCubic\" or \"LinearLogDf\" interpolation.");
        }
        interpolationKind_ = YieldCurveInterpolation::LogCubic;
        cubicFromPoint = cubicFromDate(valueDate_, cubicFrom_);
    }
    setTurns(instruments_.turns);
    const std::size_t n = instruments_.generators.size();
    const auto startOf = [&](std::size_t i) {
        return instruments_.starts.empty() ? std::nullopt : instruments_.starts[i];
    };
    const auto endOf = [&](std::size_t i) {
        return instruments_.ends.empty() ? std::nullopt : instruments_.ends[i];
    };

    // Every row must resolve, used or not. A dated row's tenor is not read: its label
    // takes the tenor's place.
    std::vector<std::shared_ptr<const Generator>> generators;
    std::vector<std::optional<Tenor>> tenors;
    futuresRows_.assign(n, false);
    std::vector<std::string> contractMonths(n);
    if (!instruments_.convexities.empty() && instruments_.convexities.size() != n) {
        throw std::invalid_argument("Instruments input should be of the same size.");
    }
    generators.reserve(n);
    tenors.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        generators.push_back(
            GeneratorRepository::instance().get<Generator>(instruments_.generators[i]));
        const auto start = startOf(i);
        const auto end = endOf(i);
        if (start.has_value() != end.has_value()) {
            throw std::invalid_argument("Error, instrument " + std::to_string(i) + " (" +
                                        instruments_.generators[i] + ") has " +
                                        (start ? "a start but no end" : "an end but no start") +
                                        ": a dated swap needs both.");
        }
        if (start) {
            if (!(*end > *start)) {
                throw std::invalid_argument("Error, instrument " + std::to_string(i) + " (" +
                                            instruments_.generators[i] + ") ends on " +
                                            boost::gregorian::to_iso_extended_string(*end) +
                                            ", not after its start " +
                                            boost::gregorian::to_iso_extended_string(*start) + ".");
            }
            if (*start < valueDate_) {
                throw std::invalid_argument(
                    "Error, instrument " + std::to_string(i) + " (" + instruments_.generators[i] +
                    ") starts on " + boost::gregorian::to_iso_extended_string(*start) +
                    ", before the value date " +
                    boost::gregorian::to_iso_extended_string(valueDate_) + ".");
            }
            instruments_.tenors[i] = datedLabel(*start, *end);
            tenors.emplace_back();
        } else if (const auto future =
                       std::dynamic_pointer_cast<const GeneratorFuture>(generators.back())) {
            // The contract month, checked here, and a label that tells 1M from 3M contracts.
            const std::string month = futuresContractMonth(*future, instruments_.tenors[i]);
            contractMonths[i] = month;
            instruments_.tenors[i] = futuresLabel(*future, month);
            tenors.emplace_back();
            futuresRows_[i] = true;
        } else {
            tenors.emplace_back(Tenor(instruments_.tenors[i]));
        }
    }
    const auto rowText = [&](std::size_t i) {
        return "instrument " + std::to_string(i) + " (" + instruments_.generators[i] + " " +
               (futuresRows_[i] ? contractMonths[i] : instruments_.tenors[i]) + ")";
    };

    // One pillar per used swap, at its last payment date, or at its accrual end for a dated
    // swap; deposits make none.
    pillarInstruments_.reserve(n);
    std::optional<CurveInstrumentMaker> maker; // made on the first instrument not cached
    const bool monotone = interpolationKind_ == YieldCurveInterpolation::MonotoneConvex;
    for (std::size_t i = 0; i < n; ++i) {
        auto swap = std::dynamic_pointer_cast<const GeneratorSwap>(generators[i]);
        if (instruments_.inUse[i] && futuresRows_[i]) {
            addFuturesPillar(i, dynamic_cast<const GeneratorFuture&>(*generators[i]),
                             contractMonths[i], rowText(i), rowText);
            continue;
        }
        if (!instruments_.inUse[i] || !swap) {
            continue;
        }
        const double quote = instruments_.quotes[i];
        const bool dated = !tenors[i].has_value();
        auto product = dated ? CurveInstrumentCache::getDated(valueDate_, std::move(swap),
                                                              *startOf(i), *endOf(i), quote, maker)
                             : CurveInstrumentCache::get(valueDate_, std::move(swap), *tenors[i],
                                                         quote, maker);
        const date pillar = dated || monotone ? accrualEnd(*product) : product->lastDate();
        const bool afterDated = !pillarRows_.empty() && !tenors[pillarRows_.back()].has_value();
        if (dated || afterDated) {
            requireAfterLastPillar(pillar, rowText(i), rowText);
        }
        appendPillar(pillar, quote / 100.0, [&] {
            return instruments_.generators[i] + " " + instruments_.tenors[i] + " (" +
                   boost::gregorian::to_iso_extended_string(pillar) + ")";
        });
        pillarInstruments_.push_back({std::move(product), quote});
        pillarRows_.push_back(i);
    }
    if (interpolationKind_ != YieldCurveInterpolation::LinearRates) {
        forwards_.resize(times_.size());
        logDiscounts_.resize(times_.size());
    }
    update(rates_);

    // Instrument k depends on pillars 0..k only, unless it pays after its pillar. A spline
    // curve starts from this bootstrap, log-linear: the spline is set up after it.
    std::vector<PillarPricer> pricers;
    pricers.reserve(pillarInstruments_.size());
    for (std::size_t k = 0; k < pillarInstruments_.size(); ++k) {
        pricers.emplace_back(*this, k, pillarInstruments_[k], k == 0 ? nullptr : &pricers.back());
        pricers.back().setQuote(pillarInstruments_[k].quote);
        looksAhead_ = looksAhead_ || pricers.back().looksAhead();
    }
    solvePillars(*this, pricers, 0);
    if (interpolationKind_ == YieldCurveInterpolation::MonotoneConvex) {
        setUpMonotone();
        solveTogether(rowText);
        return;
    }
    if (interpolationKind_ != YieldCurveInterpolation::LogCubic) {
        return;
    }
    splineFrom_ = splineFromOrigin;
    if (cubicFromPoint) {
        splineFrom_ = static_cast<std::size_t>(
            std::lower_bound(dates_.begin(), dates_.end(), *cubicFromPoint) - dates_.begin());
    }
    setUpSpline();
    if (!spline_) {
        return; // log-linear throughout, as bootstrapped
    }
    solveTogether(rowText);
}

template <class RowText> void YieldCurve::solveTogether(RowText&& rowText) {
    update(rates_);
    // The pricers again: the places of their dates on the curve now read the interpolation.
    std::vector<PillarPricer> pricers;
    pricers.reserve(pillarInstruments_.size());
    std::vector<double> quotes;
    for (std::size_t k = 0; k < pillarInstruments_.size(); ++k) {
        pricers.emplace_back(*this, k, pillarInstruments_[k], k == 0 ? nullptr : &pricers.back());
        pricers.back().setQuote(pillarInstruments_[k].quote);
        quotes.push_back(pillarInstruments_[k].quote);
    }
    solvePillarsTogether(*this, pricers, quotes,
                         [&](std::size_t k) { return rowText(pillarRows_[k]); });
}

void YieldCurve::setUpMonotone() {
    const std::size_t n = times_.size();
    if (n == 0) {
        return;
    }
    std::vector<double> nodes{0.0};
    nodes.insert(nodes.end(), times_.begin(), times_.end());
    monotone_ = std::make_shared<const MonotoneConvex>(std::move(nodes));
    knotValues_.assign(n + 1, 0.0);
    moments_.assign(n + 1, 0.0);
    momentsByRate_.assign((n + 1) * n, 0.0);
}

void YieldCurve::refreshMonotone() {
    const std::size_t n = times_.size();
    for (std::size_t k = 0; k < n; ++k) {
        knotValues_[k + 1] = logDiscounts_[k];
    }
    monotone_->solveForwards(knotValues_, moments_, forwardsByValue_);
    // df(j)/dr(k) = df(j)/dy(k + 1) x t(k); each row has its three entries at fixed places.
    for (std::size_t j = 0; j <= n; ++j) {
        const std::size_t first = monotone_->firstDependency(j);
        for (std::size_t d = 0; d < 3; ++d) {
            const std::size_t node = first + d;
            if (node != 0 && node <= n) {
                momentsByRate_[j * n + node - 1] = forwardsByValue_[j * 3 + d] * times_[node - 1];
            }
        }
    }
}

double YieldCurve::monotoneLogDf(double t) const {
    const std::vector<double>& nodes = monotone_->nodes();
    const std::size_t last = nodes.size() - 1;
    if (t >= nodes[last]) {
        // The last node's instantaneous forward carried on.
        return knotValues_[last] + (t - nodes[last]) * moments_[last];
    }
    const std::size_t i = segmentOf(nodes, t);
    return monotone_->value(i, weightOf(nodes, i, t), knotValues_, moments_);
}

void YieldCurve::monotoneSensitivity(double t, DfSensitivity& s) const {
    const std::vector<double>& nodes = monotone_->nodes();
    const std::size_t last = nodes.size() - 1;
    if (t >= nodes[last]) {
        s.count = 1;
        s.pillars[0] = last - 1;
        s.derivatives[0] = times_[last - 1];
        s.momentCount = 1;
        s.moments[0] = last;
        s.momentDerivatives[0] = t - nodes[last];
        return;
    }
    const std::size_t i = segmentOf(nodes, t);
    const MonotoneConvex::Value v =
        monotone_->sensitivity(i, weightOf(nodes, i, t), knotValues_, moments_);
    for (std::size_t d = 0; d < 2; ++d) {
        if (i + d != 0) {
            s.pillars[s.count] = i + d - 1;
            s.derivatives[s.count++] = v.byValue[d] * times_[i + d - 1];
        }
        s.moments[s.momentCount] = i + d;
        s.momentDerivatives[s.momentCount++] = v.byForward[d];
    }
}

YieldCurve YieldCurve::fromPillars() const {
    return YieldCurve(valueDate_, dates_, rates_, interpolationKind_, splineFrom_, turns());
}

void YieldCurve::setUpSpline() {
    const std::size_t n = times_.size();
    std::vector<double> knots;
    if (splineFrom_ == splineFromOrigin) {
        knots.push_back(0.0);
        knots.insert(knots.end(), times_.begin(), times_.end());
    } else if (splineFrom_ < n) {
        knots.assign(times_.begin() + static_cast<std::ptrdiff_t>(splineFrom_), times_.end());
    }
    if (knots.size() < 2) {
        // One knot or none: log-linear throughout, the last forward carried on.
        splineFrom_ = std::min(splineFrom_, n);
        spline_.reset();
        return;
    }
    spline_ = std::make_shared<const CubicSpline>(std::move(knots));
    const std::size_t m = spline_->size();
    knotValues_.assign(m, 0.0);
    moments_.assign(m, 0.0);
    // dM(j)/dr(k) = dM(j)/dy(knot of k) x t(k), as y = r t at a pillar.
    momentsByRate_.assign(m * n, 0.0);
    const std::vector<double>& byValue = spline_->momentsByValue();
    for (std::size_t j = 0; j < m; ++j) {
        for (std::size_t i = 0; i < m; ++i) {
            const std::size_t k = knotPillar(i);
            if (k != npos) {
                momentsByRate_[j * n + k] = byValue[j * m + i] * times_[k];
            }
        }
    }
}

void YieldCurve::refreshSpline() {
    for (std::size_t j = 0; j < knotValues_.size(); ++j) {
        const std::size_t k = knotPillar(j);
        knotValues_[j] = k == npos ? 0.0 : logDiscounts_[k];
    }
    spline_->solveMoments(knotValues_, moments_);
}

std::size_t YieldCurve::knotPillar(std::size_t j) const {
    if (splineFrom_ == splineFromOrigin) {
        return j == 0 ? npos : j - 1;
    }
    return splineFrom_ + j;
}

double YieldCurve::splineLogDf(std::size_t j, double w) const {
    const CubicSpline::Weights c = spline_->weights(j, w);
    return c.left * knotValues_[j] + c.right * knotValues_[j + 1] + c.leftMoment * moments_[j] +
           c.rightMoment * moments_[j + 1];
}

double YieldCurve::splineExtrapolated(double t) const {
    // The spline's slope at its last knot, M(last) = 0: a flat instantaneous forward.
    const std::size_t last = spline_->size() - 1;
    const double h = spline_->span(last - 1);
    const double slope =
        (knotValues_[last] - knotValues_[last - 1]) / h + h * moments_[last - 1] / 6.0;
    return knotValues_[last] + (t - spline_->knots()[last]) * slope;
}

void YieldCurve::splineSensitivity(std::size_t j, double w, DfSensitivity& s) const {
    const CubicSpline::Weights c = spline_->weights(j, w);
    const std::size_t last = spline_->size() - 1;
    for (const auto& [knot, weight] : {std::pair{j, c.left}, std::pair{j + 1, c.right}}) {
        const std::size_t k = knotPillar(knot);
        if (k != npos) {
            s.pillars[s.count] = k;
            s.derivatives[s.count++] = weight * times_[k];
        }
    }
    // The end knots' moments are zero whatever the rates.
    for (const auto& [knot, weight] :
         {std::pair{j, c.leftMoment}, std::pair{j + 1, c.rightMoment}}) {
        if (knot != 0 && knot != last) {
            s.moments[s.momentCount] = knot;
            s.momentDerivatives[s.momentCount++] = weight;
        }
    }
}

void YieldCurve::extrapolationSensitivity(double t, DfSensitivity& s) const {
    const std::size_t last = spline_->size() - 1;
    const double h = spline_->span(last - 1);
    const double beyond = t - spline_->knots()[last];
    for (const auto& [knot, weight] :
         {std::pair{last, 1.0 + beyond / h}, std::pair{last - 1, -beyond / h}}) {
        const std::size_t k = knotPillar(knot);
        if (k != npos) {
            s.pillars[s.count] = k;
            s.derivatives[s.count++] = weight * times_[k];
        }
    }
    if (last - 1 != 0) {
        s.moments[0] = last - 1;
        s.momentDerivatives[0] = beyond * h / 6.0;
        s.momentCount = 1;
    }
}

YieldCurve::~YieldCurve() = default;

std::uint64_t YieldCurve::Version::fresh() {
    static std::atomic<std::uint64_t> next{0};
    return next.fetch_add(std::uint64_t{1} << 32, std::memory_order_relaxed);
}

double YieldCurve::quoteDirection(std::size_t row) const {
    return row < futuresRows_.size() && futuresRows_[row] ? -1.0 : 1.0;
}

void YieldCurve::setTurns(const std::vector<CurveTurn>& turns) {
    const auto iso = [](const date& d) { return boost::gregorian::to_iso_extended_string(d); };
    const auto describe = [&](std::size_t i) {
        std::ostringstream spread;
        spread << turns[i].spread;
        return "turn " + std::to_string(i) + " (" + iso(turns[i].start) + " to " +
               iso(turns[i].end) + ", " + spread.str() + "bp)";
    };
    for (std::size_t i = 0; i < turns.size(); ++i) {
        const CurveTurn& turn = turns[i];
        if (!(turn.start > valueDate_)) {
            throw std::invalid_argument("Error, " + describe(i) +
                                        " must start after the value date " + iso(valueDate_) +
                                        ".");
        }
        if (!(turn.end > turn.start)) {
            throw std::invalid_argument("Error, " + describe(i) + " must end after its start.");
        }
        if (!std::isfinite(turn.spread)) {
            throw std::invalid_argument("Error, the spread of " + describe(i) + " is not finite.");
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (turn.start < turns[j].end && turns[j].start < turn.end) {
                throw std::invalid_argument("Error, " + describe(i) + " overlaps " + describe(j) +
                                            ".");
            }
        }
        turnSpans_.push_back({curveTime(valueDate_, turn.start), curveTime(valueDate_, turn.end),
                              turn.spread / 10000.0});
    }
    instruments_.turns = turns;
}

double YieldCurve::turnLogDf(double t) const {
    double sum = 0.0;
    for (const TurnSpan& turn : turnSpans_) {
        if (t > turn.start) {
            sum += turn.rate * (std::min(t, turn.end) - turn.start);
        }
    }
    return sum;
}

template <class Describe>
void YieldCurve::appendPillar(const date& d, double rate, Describe&& describe) {
    const double t = curveTime(valueDate_, d);
    const double previous = times_.empty() ? 0.0 : times_.back();
    if (!(t > previous)) {
        requirePillarAfter(previous, t, describe());
    }
    dates_.push_back(d);
    times_.push_back(t);
    rates_.push_back(rate);
}

void YieldCurve::update(std::vector<double> rates) {
    if (rates.size() != times_.size()) {
        throw std::invalid_argument("Error, expected one rate per pillar: the curve has " +
                                    std::to_string(times_.size()) + " pillars and " +
                                    std::to_string(rates.size()) + " rates were given.");
    }
    jacobian_.reset();
    ++version_.value;
    // Copy into the existing storage so that repeated updates never allocate.
    std::copy(rates.begin(), rates.end(), rates_.begin());
    if (interpolationKind_ != YieldCurveInterpolation::LinearRates) {
        for (std::size_t k = 0; k < rates_.size(); ++k) {
            refreshDerived(k);
        }
    }
    if (spline_) {
        refreshSpline();
    }
    if (monotone_) {
        refreshMonotone();
    }
}

void YieldCurve::updateRate(std::size_t k, double rate) {
    if (k >= rates_.size()) {
        throw std::out_of_range("Error, no pillar " + std::to_string(k) + " in a curve of " +
                                std::to_string(rates_.size()) + " pillars.");
    }
    jacobian_.reset();
    ++version_.value;
    rates_[k] = rate;
    if (interpolationKind_ != YieldCurveInterpolation::LinearRates) {
        // f(k+1) depends on L(k) as well.
        refreshDerived(k);
        if (k + 1 < rates_.size()) {
            refreshDerived(k + 1);
        }
    }
    if (spline_) {
        refreshSpline();
    }
    if (monotone_) {
        refreshMonotone();
    }
}

void YieldCurve::refreshDerived(std::size_t k) {
    const double previousLogDiscount = k == 0 ? 0.0 : rates_[k - 1] * times_[k - 1];
    const double previousTime = k == 0 ? 0.0 : times_[k - 1];
    forwards_[k] = (rates_[k] * times_[k] - previousLogDiscount) / (times_[k] - previousTime);
    logDiscounts_[k] = rates_[k] * times_[k];
}

void YieldCurve::requirePillars() const {
    if (times_.empty()) {
        throwNoPillars();
    }
}

void YieldCurve::requireSegment() const {
    requirePillars();
    if (times_.size() < 2) {
        throw std::runtime_error("Error, interpolation between pillars needs two pillars.");
    }
}

std::size_t YieldCurve::upperIndex(double t) const {
    return segmentOf(times_, t);
}

double YieldCurve::logDfLinearRates(double t) const {
    requireSegment();
    const std::size_t i = segmentOf(times_, t);
    return linearRates(rates_, i, weightOf(times_, i, t), t);
}

double YieldCurve::logDfLinearLogDf(double t) const {
    requireSegment();
    if (interpolationKind_ != YieldCurveInterpolation::LinearLogDf) {
        // Log discounts are kept only for LinearLogDf curves.
        const std::size_t i = upperIndex(t);
        const double w = (t - times_[i]) / (times_[i + 1] - times_[i]);
        return (1.0 - w) * rates_[i] * times_[i] + w * rates_[i + 1] * times_[i + 1];
    }
    const std::size_t i = segmentOf(times_, t);
    return linearLogDf(logDiscounts_, i, weightOf(times_, i, t));
}

double YieldCurve::logDfUnchecked(double t) const {
    if (turnSpans_.empty()) {
        return interpolatedLogDf(t);
    }
    return interpolatedLogDf(t) + turnLogDf(t);
}

double YieldCurve::interpolatedLogDf(double t) const {
    const std::size_t last = times_.size() - 1;
    if (monotone_) {
        return monotoneLogDf(t);
    }
    if (spline_) {
        const std::vector<double>& knots = spline_->knots();
        if (t >= knots.back()) {
            return splineExtrapolated(t);
        }
        if (t >= knots.front() || splineFrom_ == splineFromOrigin) {
            const std::size_t j = segmentOf(knots, t);
            return splineLogDf(j, weightOf(knots, j, t));
        }
        // A log-linear front: the formulas below, before the spline's first pillar.
    }
    const bool byRates = interpolationKind_ == YieldCurveInterpolation::LinearRates;
    if (t < times_[0]) {
        return byRates ? t * rates_[0] : t * forwards_[0];
    }
    if (t >= times_[last]) {
        // Flat zero rate, or the last segment's forward carried on.
        return byRates ? t * rates_[last]
                       : logDiscounts_[last] + (t - times_[last]) * forwards_[last];
    }
    const std::size_t i = segmentOf(times_, t);
    const double w = weightOf(times_, i, t);
    return byRates ? linearRates(rates_, i, w, t) : linearLogDf(logDiscounts_, i, w);
}

double YieldCurve::logDf(double t) const {
    requirePillars();
    return logDfUnchecked(t);
}

double YieldCurve::shortRate() const {
    requirePillars();
    if (spline_ && splineFrom_ == splineFromOrigin) {
        // S'(0) = (y(1) - y(0)) / h(0) - h(0) (2 M(0) + M(1)) / 6, with y(0) = M(0) = 0.
        const double h = spline_->span(0);
        return knotValues_[1] / h - h * moments_[1] / 6.0;
    }
    if (monotone_) {
        return moments_[0]; // the forward at the value date
    }
    return logDf(times_.front()) / times_.front();
}

double YieldCurve::df(const date& d) const {
    if (times_.empty()) {
        throwNoPillars();
    }
    const double t = timeFrom(valueDate_, d);
    if (t <= 0.0) {
        return 1.0;
    }
    return std::exp(-logDfUnchecked(t));
}

YieldCurve::Point YieldCurve::point(const date& d) const {
    requirePillars();
    Point p;
    p.time = timeFrom(valueDate_, d);
    if (p.time <= 0.0) {
        p.region = Point::Region::Settled;
    } else if (p.time < times_[0]) {
        p.region = Point::Region::BeforeFirst;
    } else if (p.time >= times_.back()) {
        p.region = Point::Region::AfterLast;
    } else {
        p.region = Point::Region::Interior;
        p.segment = segmentOf(times_, p.time);
        p.weight = weightOf(times_, p.segment, p.time);
    }
    if (p.time > 0.0 && !turnSpans_.empty()) {
        p.turn = turnLogDf(p.time);
    }
    return p;
}

double YieldCurve::df(const Point& p) const {
    if (spline_ || monotone_) {
        return p.region == Point::Region::Settled ? 1.0 : std::exp(-logDfUnchecked(p.time));
    }
    switch (p.region) {
    case Point::Region::Settled:
        return 1.0;
    case Point::Region::Interior: {
        const double interpolated = interpolationKind_ == YieldCurveInterpolation::LinearRates
                                        ? linearRates(rates_, p.segment, p.weight, p.time)
                                        : linearLogDf(logDiscounts_, p.segment, p.weight);
        return std::exp(-(turnSpans_.empty() ? interpolated : interpolated + p.turn));
    }
    case Point::Region::BeforeFirst:
    case Point::Region::AfterLast:
        break;
    }
    // Outside the pillars the formulas do not involve a segment.
    return std::exp(-logDfUnchecked(p.time));
}

YieldCurve::DfSensitivity YieldCurve::dfSensitivity(const Point& p) const {
    DfSensitivity s;
    s.value = df(p);
    const double t = p.time;
    const bool byRates = interpolationKind_ == YieldCurveInterpolation::LinearRates;
    const bool smooth =
        p.region != Point::Region::Settled &&
        (monotone_ ? (monotoneSensitivity(t, s), true) : spline_ && splineSensitivityAt(t, s));
    if (smooth) {
        for (std::size_t j = 0; j < s.count; ++j) {
            s.derivatives[j] = -s.derivatives[j] * s.value;
        }
        for (std::size_t j = 0; j < s.momentCount; ++j) {
            s.momentDerivatives[j] = -s.momentDerivatives[j] * s.value;
        }
        return s;
    }
    // d(logDf)/d(rate) per pillar, then d(df) = -d(logDf) x df as dfRV has it.
    switch (p.region) {
    case Point::Region::Settled:
        return s;
    case Point::Region::BeforeFirst:
        s.count = 1;
        s.pillars[0] = 0;
        s.derivatives[0] = t;
        break;
    case Point::Region::Interior: {
        const std::size_t i = p.segment;
        s.count = 2;
        s.pillars = {i, i + 1};
        s.derivatives =
            byRates ? std::array<double, 2>{(1.0 - p.weight) * t, p.weight * t}
                    : std::array<double, 2>{(1.0 - p.weight) * times_[i], p.weight * times_[i + 1]};
        break;
    }
    case Point::Region::AfterLast: {
        const std::size_t last = times_.size() - 1;
        s.count = 1;
        s.pillars[0] = last;
        if (byRates) {
            s.derivatives[0] = t;
            break;
        }
        // L(n-1) + s f(n-1) with f(n-1) = (L(n-1) - L(n-2)) / (t(n-1) - t(n-2)).
        const double beyond = t - times_[last];
        const double span = times_[last] - (last == 0 ? 0.0 : times_[last - 1]);
        s.derivatives[0] = times_[last] + beyond * times_[last] / span;
        if (last > 0) {
            s.count = 2;
            s.pillars[1] = last - 1;
            s.derivatives[1] = -beyond * times_[last - 1] / span;
        }
        break;
    }
    }
    for (std::size_t j = 0; j < s.count; ++j) {
        s.derivatives[j] = -s.derivatives[j] * s.value;
    }
    return s;
}

const CurveJacobian& YieldCurve::jacobian() const {
    return jacobian_.get([this] { return std::make_shared<const CurveJacobian>(*this); });
}

void YieldCurve::linearRatesDerivatives(std::size_t i, double t, std::vector<double>& d) const {
    const double w = (t - times_[i]) / (times_[i + 1] - times_[i]);
    d[i] = (1.0 - w) * t;
    d[i + 1] = w * t;
}

void YieldCurve::linearLogDfDerivatives(std::size_t i, double t, std::vector<double>& d) const {
    // L(k) = r(k) t(k), so dL(k)/dr(k) = t(k).
    const double w = (t - times_[i]) / (times_[i + 1] - times_[i]);
    d[i] = (1.0 - w) * times_[i];
    d[i + 1] = w * times_[i + 1];
}

RiskVector YieldCurve::logDfLinearRatesRV(double t) const {
    requireSegment();
    const std::size_t i = upperIndex(t);
    RiskVector result{linearRates(rates_, i, weightOf(times_, i, t), t),
                      std::vector<double>(rates_.size(), 0.0)};
    linearRatesDerivatives(i, t, result.derivatives);
    return result;
}

RiskVector YieldCurve::logDfLinearLogDfRV(double t) const {
    requireSegment();
    const std::size_t i = upperIndex(t);
    RiskVector result{logDfLinearLogDf(t), std::vector<double>(rates_.size(), 0.0)};
    linearLogDfDerivatives(i, t, result.derivatives);
    return result;
}

bool YieldCurve::splineSensitivityAt(double t, DfSensitivity& s) const {
    const std::vector<double>& knots = spline_->knots();
    if (t >= knots.back()) {
        extrapolationSensitivity(t, s);
        return true;
    }
    if (t >= knots.front() || splineFrom_ == splineFromOrigin) {
        const std::size_t j = segmentOf(knots, t);
        splineSensitivity(j, weightOf(knots, j, t), s);
        return true;
    }
    return false; // the log-linear front
}

RiskVector YieldCurve::logDfRV(double t) const {
    requirePillars();
    const std::size_t n = times_.size();
    const std::size_t last = n - 1;
    RiskVector result{logDfUnchecked(t), std::vector<double>(n, 0.0)};
    std::vector<double>& d = result.derivatives;
    if (DfSensitivity s; monotone_ && t > 0.0) {
        monotoneSensitivity(t, s);
        addDerivatives(s, 1.0, d.data());
        return result;
    }
    if (DfSensitivity s; spline_ && splineSensitivityAt(t, s)) {
        addDerivatives(s, 1.0, d.data());
        return result;
    }
    if (t < times_[0]) {
        // t r(0), or t f(0) with f(0) = r(0) t(0) / t(0).
        d[0] = t;
    } else if (t >= times_[last]) {
        if (interpolationKind_ == YieldCurveInterpolation::LinearRates) {
            d[last] = t;
        } else {
            // L(n-1) + s f(n-1), f(n-1) = (L(n-1) - L(n-2)) / (t(n-1) - t(n-2)).
            const double s = t - times_[last];
            const double span = times_[last] - (last == 0 ? 0.0 : times_[last - 1]);
            d[last] = times_[last] + s * times_[last] / span;
            if (last > 0) {
                d[last - 1] = -s * times_[last - 1] / span;
            }
        }
    } else if (interpolationKind_ == YieldCurveInterpolation::LinearRates) {
        linearRatesDerivatives(upperIndex(t), t, d);
    } else {
        linearLogDfDerivatives(upperIndex(t), t, d);
    }
    return result;
}

RiskVector YieldCurve::dfRV(const date& d) const {
    requirePillars();
    const double t = curveTime(valueDate_, d);
    if (t <= 0.0) {
        return RiskVector{1.0, std::vector<double>(rates_.size(), 0.0)};
    }
    return exp(-logDfRV(t));
}

} // namespace tsr
