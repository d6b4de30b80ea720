#pragma once

#include "core/date.hpp"
#include "core/object.hpp"
#include "curves/risk_vector.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tsr {

enum class YieldCurveInterpolation : std::uint8_t { LinearRates = 0, LinearLogDf = 1 };

// The quoted instruments a curve is built from, one entry per instrument in
// input order. Quotes are in percent.
struct YieldCurveInstruments {
    std::vector<std::string> generators;
    std::vector<std::string> tenors;
    std::vector<bool> inUse;
    std::vector<double> quotes;
};

// Curve time of a date: signed calendar days from the value date over 365.0.
double curveTime(const date& valueDate, const date& d);

// Zero curve with continuously compounded pillar rates. Pillar times must be
// positive and strictly increasing; both constructors refuse anything else.
class YieldCurve : public Object {
public:
    YieldCurve(const date& valueDate, const std::vector<date>& dates,
               const std::vector<double>& rates, YieldCurveInterpolation interpolation);

    // Bootstraps one pillar per used swap instrument, in input order.
    YieldCurve(std::string label, date valueDate, std::string currency, std::string interpolation,
               const YieldCurveInstruments& instruments);

    ~YieldCurve() override;

    // Replaces the pillar rates; the count must equal the number of pillars.
    void update(std::vector<double> rates);

    // Replaces the rate of pillar k only; used by the bootstrap for each trial.
    void updateRate(std::size_t k, double rate);

    // Segment i with t(i) < t <= t(i+1) for t inside the pillar range; the
    // first or last segment outside it. 0 when there are fewer than two pillars.
    std::size_t upperIndex(double t) const;

    // Minus the log discount factor at time t (years).
    double logDf(double t) const;
    // Interior formulas; outside the pillar range they extend the end segment.
    double logDfLinearRates(double t) const;
    double logDfLinearLogDf(double t) const;
    double df(const date& d) const;

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

private:
    void appendPillar(const date& d, double rate, const std::string& description);
    void refreshDerived(std::size_t k);
    void requirePillars() const;
    void requireSegment() const;
    double logDfUnchecked(double t) const;
    double linearRatesAt(std::size_t i, double t) const;
    double linearLogDfAt(std::size_t i, double t) const;
    void linearRatesDerivatives(std::size_t i, double t, std::vector<double>& d) const;
    void linearLogDfDerivatives(std::size_t i, double t, std::vector<double>& d) const;

    std::string label_;
    date valueDate_;
    std::string currency_;
    std::string interpolationName_;
    YieldCurveInstruments instruments_;
    std::vector<date> dates_;
    std::vector<double> times_;
    std::vector<double> rates_;
    // Filled for LinearLogDf only: L(k) = r(k) t(k) and the forward f(k) of the
    // segment ending at pillar k.
    std::vector<double> logDiscounts_;
    std::vector<double> forwards_;
    YieldCurveInterpolation interpolationKind_;
};

} // namespace tsr
