#pragma once

#include "core/date.hpp"
#include "core/object.hpp"
#include "curves/risk_vector.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tsr {

class CubicSpline;
class CurveFuture;
class MonotoneConvex;
class CurveJacobian;
class GeneratorFuture;
class Product;

enum class YieldCurveInterpolation : std::uint8_t {
    LinearRates = 0,
    LinearLogDf = 1,
    LogCubic = 2,
    MonotoneConvex = 3
};

// "LinearRates", "LinearLogDf", "LogCubic" or "MonotoneConvex", in any ASCII letter case. Throws
// std::invalid_argument "empty string" or "unknown value".
YieldCurveInterpolation parseInterpolation(std::string_view name);
// The interpolation names, as they are written.
std::vector<std::string_view> interpolationNameList();

// A span over which the overnight forward is raised by `spread` basis points: discount
// factors after `start` carry exp(-spread / 10,000 x ACT/365F(start, min(d, end))).
struct CurveTurn {
    date start;
    date end;
    double spread = 0.0;
};

// Index label -> (fixing dates, fixing values as decimals), in any date order.
using CurveFixings =
    std::unordered_map<std::string, std::pair<std::vector<date>, std::vector<double>>>;

// The quoted instruments a curve is built from, one entry per instrument in
// input order. Quotes are in percent. A row with a start and an end is a swap
// between those dates, whose tenor the curve replaces by its label; the start
// and end columns are empty when no row has them. The turns travel with the
// instruments so that every curve rebuilt from them has the same turns.
struct YieldCurveInstruments {
    std::vector<std::string> generators;
    std::vector<std::string> tenors;
    std::vector<bool> inUse;
    std::vector<double> quotes;
    std::vector<std::optional<date>> starts = {};
    std::vector<std::optional<date>> ends = {};
    std::vector<CurveTurn> turns = {};
    // Futures rows: the futures rate minus the forward, in bp, per row (empty: all 0); and
    // the fixings of contracts whose reference period began before the value date.
    std::vector<double> convexities = {};
    CurveFixings fixings = {};
};

// The risk label of a swap between two dates: "2027-01-28/2027-03-18".
std::string datedLabel(const date& start, const date& end);
// The risk label of a futures row: "1M FUT 2026-12", "3M FUT 2027-03".
std::string futuresLabel(const GeneratorFuture& generator, const std::string& contractMonth);
// The contract month of a futures row's tenor cell, "2026-12" or its label "1M FUT 2026-12";
// std::invalid_argument naming the text when it is no contract month.
std::string futuresContractMonth(const GeneratorFuture& generator, const std::string& cell);

// Curve time of a date: signed calendar days from the value date over 365.0.
double curveTime(const date& valueDate, const date& d);

// Zero curve with continuously compounded pillar rates. Pillar times must be
// positive and strictly increasing; both constructors refuse anything else.
class YieldCurve : public Object {
public:
    // For LogCubic, `splineFrom` is the first pillar of the spline, the pillars before it
    // log-linear; the default puts the knot (0, 0) first and every pillar after it.
    YieldCurve(const date& valueDate, const std::vector<date>& dates,
               const std::vector<double>& rates, YieldCurveInterpolation interpolation,
               std::size_t splineFrom = splineFromOrigin, const std::vector<CurveTurn>& turns = {});

    // Bootstraps one pillar per used swap instrument, in input order. A LogCubic curve is
    // solved for all pillars at once, from the log-linear bootstrap. `cubicFrom` (a tenor
    // from the value date, or a YYYY-MM-DD date; LinearLogDf or LogCubic only) makes the
    // pillars before the first one on or after it log-linear and the rest a spline.
    YieldCurve(std::string label, date valueDate, std::string currency, std::string interpolation,
               const YieldCurveInstruments& instruments, std::string cubicFrom = {});

    static constexpr std::size_t splineFromOrigin = std::numeric_limits<std::size_t>::max();

    ~YieldCurve() override;

    // Replaces the pillar rates; the count must equal the number of pillars.
    void update(std::vector<double> rates);

    // Replaces the rate of pillar k only; used by the bootstrap for each trial.
    void updateRate(std::size_t k, double rate);

    // Counts the changes of rates: equal versions of one curve mean equal rates.
    std::uint64_t version() const { return version_.value; }

    // Segment i with t(i) < t <= t(i+1) for t inside the pillar range; the
    // first or last segment outside it. 0 when there are fewer than two pillars.
    std::size_t upperIndex(double t) const;

    // Minus the log discount factor at time t (years), turns included.
    double logDf(double t) const;
    // The zero rate's limit at the value date. The linear interpolations keep the zero rate
    // constant up to the first pillar; a spline from (0, 0) starts with its slope there.
    double shortRate() const;
    // The turns' part of it: the sum of spread x ACT/365F(start, min(max(t, start), end)).
    double turnLogDf(double t) const;
    const std::vector<CurveTurn>& turns() const { return instruments_.turns; }
    // Interior formulas; outside the pillar range they extend the end segment.
    double logDfLinearRates(double t) const;
    double logDfLinearLogDf(double t) const;
    double df(const date& d) const;

    // Where a date sits on the curve: its time and the segment that answers for it. Both
    // depend on the pillar times only, so a caller that asks for the same date while the
    // rates change finds them once; df(point) equals df(date) to the last bit.
    struct Point {
        enum class Region : std::uint8_t { Settled, BeforeFirst, Interior, AfterLast };
        Region region = Region::Settled;
        std::size_t segment = 0;
        double time = 0.0;
        double weight = 0.0;
        // The turns' part of minus the log discount factor.
        double turn = 0.0;
    };
    Point point(const date& d) const;
    double df(const Point& p) const;

    // A discount factor with its derivatives with respect to the (at most two) pillar rates
    // it depends on; the same numbers as dfRV, without a vector as long as the curve.
    // On a spline, the factor also depends on (at most two) spline moments, each a linear
    // function of every pillar rate; on a monotone-convex curve, on (at most two) node
    // forwards, each a function of three pillar rates. addDerivatives adds both parts.
    struct DfSensitivity {
        double value = 1.0;
        std::size_t count = 0;
        std::array<std::size_t, 2> pillars{};
        std::array<double, 2> derivatives{};
        std::size_t momentCount = 0;
        std::array<std::size_t, 2> moments{};
        std::array<double, 2> momentDerivatives{};
    };
    DfSensitivity dfSensitivity(const Point& p) const;

    // gradient[k] += adjoint x d(df)/d(rate k), for the factor described by s.
    void addDerivatives(const DfSensitivity& s, double adjoint, double* gradient) const {
        for (std::size_t j = 0; j < s.count; ++j) {
            gradient[s.pillars[j]] += adjoint * s.derivatives[j];
        }
        const std::size_t n = rates_.size();
        for (std::size_t m = 0; m < s.momentCount; ++m) {
            const double scale = adjoint * s.momentDerivatives[m];
            const double* row = momentsByRate_.data() + s.moments[m] * n;
            for (std::size_t k = 0; k < n; ++k) {
                gradient[k] += scale * row[k];
            }
        }
    }

    // The number of moments (spline moments or node forwards) a factor may depend on.
    std::size_t momentCount() const {
        return rates_.empty() ? 0 : momentsByRate_.size() / rates_.size();
    }
    // As addDerivatives, with the moments' part gathered per moment into momentAdjoints
    // (momentCount() of them) instead: a sum over many factors then reads each moment's
    // derivatives once, in addMomentDerivatives.
    void gatherDerivatives(const DfSensitivity& s, double adjoint, double* gradient,
                           double* momentAdjoints) const {
        for (std::size_t j = 0; j < s.count; ++j) {
            gradient[s.pillars[j]] += adjoint * s.derivatives[j];
        }
        for (std::size_t m = 0; m < s.momentCount; ++m) {
            momentAdjoints[s.moments[m]] += adjoint * s.momentDerivatives[m];
        }
    }
    void addMomentDerivatives(const double* momentAdjoints, double* gradient) const {
        const std::size_t n = rates_.size();
        for (std::size_t m = 0; m < momentCount(); ++m) {
            const double* row = momentsByRate_.data() + m * n;
            for (std::size_t k = 0; k < n; ++k) {
                gradient[k] += momentAdjoints[m] * row[k];
            }
        }
    }

    // True when a pillar's solve reads later pillars, so that the curve is solved for all
    // pillars at once and its Jacobian is dense.
    bool solvedGlobally() const { return spline_ != nullptr || monotone_ != nullptr; }
    // The pillar where the spline starts (splineFromOrigin for the knot (0, 0)); the pillar
    // count on a curve without a spline.
    std::size_t splineFrom() const { return splineFrom_; }
    // The "cubic from" text the curve was built with, or empty.
    const std::string& cubicFrom() const { return cubicFrom_; }
    // A curve from this curve's pillars and rates, with its interpolation.
    YieldCurve fromPillars() const;

    // The same numbers with their derivatives with respect to the pillar rates.
    RiskVector logDfRV(double t) const;
    RiskVector logDfLinearRatesRV(double t) const;
    RiskVector logDfLinearLogDfRV(double t) const;
    RiskVector dfRV(const date& d) const;

    std::vector<date> dates() const { return dates_; }
    std::vector<double> rates() const { return rates_; }
    std::string label() const { return label_; }
    std::string currency() const { return currency_; }
    std::string interpolation() const { return interpolationName_; }
    date valueDate() const { return valueDate_; }
    YieldCurveInstruments instruments() const { return instruments_; }

    // Copy-free views for hot paths.
    const std::vector<date>& pillarDates() const { return dates_; }
    const std::vector<double>& pillarTimes() const { return times_; }
    const std::vector<double>& pillarRates() const { return rates_; }
    YieldCurveInterpolation interpolationKind() const { return interpolationKind_; }

    // The instrument behind each pillar of a bootstrapped curve, in pillar order; empty for
    // a curve made from pillars. Key-rate risk re-solves bumped curves with them.
    struct PillarInstrument {
        // The swap's schedule. Curves built from the same instruments on the same value date
        // share their swaps, so its own fixed rate may come from an earlier quote.
        std::shared_ptr<const Product> swap;
        // The quote, in percent, that sets the fixed rate this curve was solved with; for a
        // futures row, the futures rate 100 - price.
        double quote;
        // A futures row instead of a swap, with its convexity in percent.
        std::shared_ptr<const CurveFuture> future = nullptr;
        double convexity = 0.0;
    };
    const std::vector<PillarInstrument>& pillarInstruments() const { return pillarInstruments_; }
    // d(pillar instrument's quote)/d(row quote) of each row: -1 for a futures row, quoted by
    // price while the curve works in its rate, 1 otherwise.
    double quoteDirection(std::size_t row) const;
    // Input row of the instrument behind each pillar, in pillar order.
    const std::vector<std::size_t>& pillarRows() const { return pillarRows_; }
    const YieldCurveInstruments& instrumentSet() const { return instruments_; }
    // Whether an instrument reads a date after its own pillar, so that pillars are solved
    // together rather than one after the other.
    bool looksAhead() const { return looksAhead_; }
    // Whether every quote moves every pillar: the pillars of a spline, or of instruments that
    // read past their own pillars, are solved together.
    bool pillarsTogether() const { return solvedGlobally() || looksAhead_; }

    // d(pillar zero rate)/d(instrument quote in percent), made on first use by whichever
    // thread asks first and kept until the rates change. update() and updateRate() drop it,
    // so the reference lives until then or until the curve goes.
    const CurveJacobian& jacobian() const;

private:
    // The lazily made Jacobian. A copy of the curve starts without one.
    class JacobianSlot {
    public:
        JacobianSlot() { once_.emplace(); }
        JacobianSlot(const JacobianSlot& /*other*/) : JacobianSlot() {}
        JacobianSlot& operator=(const JacobianSlot& /*other*/) {
            reset();
            return *this;
        }
        template <class Make> const CurveJacobian& get(Make&& make) const {
            std::call_once(*once_, [&] { value_ = make(); });
            return *value_;
        }
        // Not safe against concurrent get(); the curve is not shared while its rates change.
        void reset() {
            if (value_) {
                value_.reset();
                once_.emplace();
            }
        }

    private:
        mutable std::optional<std::once_flag> once_;
        mutable std::shared_ptr<const CurveJacobian> value_;
    };

    template <class RowText>
    void requireAfterLastPillar(const date& pillar, const std::string& row,
                                RowText&& rowText) const;
    template <class RowText>
    void addFuturesPillar(std::size_t i, const GeneratorFuture& generator, const std::string& month,
                          const std::string& what, RowText&& rowText);
    // Checks the turns and keeps their times; throws naming the first bad turn.
    void setTurns(const std::vector<CurveTurn>& turns);
    // The description names the pillar in the error raised when it is out of order.
    template <class Describe> void appendPillar(const date& d, double rate, Describe&& describe);
    void refreshDerived(std::size_t k);
    void requirePillars() const;
    void requireSegment() const;
    double logDfUnchecked(double t) const;
    double interpolatedLogDf(double t) const;
    void linearRatesDerivatives(std::size_t i, double t, std::vector<double>& d) const;
    void linearLogDfDerivatives(std::size_t i, double t, std::vector<double>& d) const;
    void setUpSpline();
    void refreshSpline();
    // Minus log df on the spline's segment j at weight w, and past its last knot.
    double splineLogDf(std::size_t j, double w) const;
    double splineExtrapolated(double t) const;
    // The pillar of knot j, or npos for the knot (0, 0).
    std::size_t knotPillar(std::size_t j) const;
    // d(minus log df)/d(knot values and moments) on segment j, or past the last knot.
    void splineSensitivity(std::size_t j, double w, DfSensitivity& s) const;
    void extrapolationSensitivity(double t, DfSensitivity& s) const;
    // The spline part's d(minus log df)/d(rates and moments) at t; false on a log-linear front.
    bool splineSensitivityAt(double t, DfSensitivity& s) const;
    // MonotoneConvex: nodes 0 and every pillar; refreshed with the rates.
    void setUpMonotone();
    void refreshMonotone();
    double monotoneLogDf(double t) const;
    void monotoneSensitivity(double t, DfSensitivity& s) const;
    // After the log-linear bootstrap, solves all pillars together on the final interpolation.
    template <class RowText> void solveTogether(RowText&& rowText);

    std::string label_;
    date valueDate_;
    std::string currency_;
    std::string interpolationName_;
    YieldCurveInstruments instruments_;
    std::vector<PillarInstrument> pillarInstruments_;
    std::vector<std::size_t> pillarRows_;
    std::vector<bool> futuresRows_;
    std::vector<date> dates_;
    std::vector<double> times_;
    std::vector<double> rates_;
    // Filled for LinearLogDf and LogCubic: L(k) = r(k) t(k) and the forward f(k) of the
    // segment ending at pillar k.
    std::vector<double> logDiscounts_;
    std::vector<double> forwards_;
    YieldCurveInterpolation interpolationKind_;
    // LogCubic only: the spline on its knots, its knot values, moments and dM/dr.
    std::size_t splineFrom_ = 0;
    std::string cubicFrom_;
    std::shared_ptr<const CubicSpline> spline_;
    std::vector<double> knotValues_;
    std::vector<double> moments_;
    std::vector<double> momentsByRate_;
    // MonotoneConvex only: the interpolation on its nodes; knotValues_ holds the node values,
    // moments_ the node forwards and momentsByRate_ their derivatives df/dr.
    std::shared_ptr<const MonotoneConvex> monotone_;
    std::vector<double> forwardsByValue_;
    // Per turn: start and end times and the spread as a decimal rate.
    struct TurnSpan {
        double start;
        double end;
        double rate;
    };
    std::vector<TurnSpan> turnSpans_;
    bool looksAhead_ = false;
    // Starts, and restarts on copy, from a number no other curve has started from lately, so
    // that one address never shows one version for different rates.
    struct Version {
        Version() : value(fresh()) {}
        Version(const Version& /*other*/) : value(fresh()) {}
        Version& operator=(const Version& /*other*/) {
            value = fresh();
            return *this;
        }
        static std::uint64_t fresh();
        std::uint64_t value;
    };
    Version version_;
    JacobianSlot jacobian_;
};

} // namespace tsr
