#include "curves/curve_future.hpp"

#include "conventions/generator_future.hpp"
#include "conventions/index_repository.hpp"
#include "conventions/ois_index.hpp"
#include "curves/bootstrap.hpp"
#include "curves/yield_curve.hpp"
#include "dates/calendar.hpp"
#include "dates/calendar_repository.hpp"
#include "dates/date_arithmetic.hpp"
#include "dates/day_counter.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace tsr {

namespace {

// The fixing of one day, if the history has it; the first entry of a date counts.
class FixingReader {
public:
    FixingReader(const CurveFixings& fixings, const std::string& index) {
        if (const auto found = fixings.find(index); found != fixings.end()) {
            history_ = &found->second;
        }
    }
    std::optional<double> find(const date& d) const {
        if (history_ == nullptr) {
            return std::nullopt;
        }
        const auto& [dates, values] = *history_;
        for (std::size_t i = 0; i < dates.size() && i < values.size(); ++i) {
            if (dates[i] == d) {
                return values[i];
            }
        }
        return std::nullopt;
    }

private:
    const std::pair<std::vector<date>, std::vector<double>>* history_ = nullptr;
};

} // namespace

CurveFuture::CurveFuture(const date& valueDate, const GeneratorFuture& generator,
                         const std::string& contractMonth, const CurveFixings& fixings,
                         const std::string& what)
    : compounded_(generator.averaging() == FutureAveraging::Compounded) {
    std::tie(start_, end_) = generator.referencePeriod(contractMonth);
    const auto index = IndexRepository::instance().get<OisIndex>(generator.index());
    const auto calendar = CalendarRepository::current().get(index->calendar());
    const DayCounter dayCounter(index->dayCount());
    const FixingReader reader(fixings, generator.index());
    // A day before the value date has fixed; the value date's own fixing is used if given.
    const auto fixing = [&](const date& day) -> std::optional<double> {
        if (day > valueDate) {
            return std::nullopt;
        }
        const auto found = reader.find(day);
        if (!found && day < valueDate) {
            throw std::invalid_argument(
                "Error, " + what + " needs the " + generator.index() + " fixing of " +
                boost::gregorian::to_iso_extended_string(day) + ": its reference period began on " +
                boost::gregorian::to_iso_extended_string(start_) + ", before the value date.");
        }
        return found;
    };
    const auto nextBusinessDay = [&](const date& day) {
        return addBusinessDays(day, 1, *calendar);
    };

    if (compounded_) {
        date from = start_;
        while (from < end_ && from <= valueDate) {
            if (!calendar->isBusinessDay(from)) {
                if (from == valueDate) {
                    break;
                }
                from = nextBusinessDay(from); // no fixing before the first business day
                continue;
            }
            const auto known = fixing(from);
            if (!known) {
                break;
            }
            const date next = std::min(nextBusinessDay(from), end_);
            growth_ = period::compound(growth_, *known, dayCounter.fraction(from, next));
            from = next;
        }
        terms_.push_back({from, end_, 1.0, dayCounter.fraction(start_, end_)});
        lastDate_ = end_;
        return;
    }

    // Every calendar day of the period carries the rate of the business day on or before it.
    const double days = static_cast<double>((end_ - start_).days());
    date day = start_;
    while (!calendar->isBusinessDay(day)) {
        day -= boost::gregorian::days(1);
    }
    lastDate_ = end_;
    while (day < end_) {
        const date next = nextBusinessDay(day);
        const double weight =
            static_cast<double>((std::min(next, end_) - std::max(day, start_)).days()) / days;
        if (const auto known = fixing(day)) {
            realised_ += weight * *known;
        } else {
            terms_.push_back({day, next, weight, dayCounter.fraction(day, next)});
            lastDate_ = std::max(lastDate_, next);
        }
        day = next;
    }
}

double CurveFuture::rate(const YieldCurve& curve) const {
    return rateWith([&](const date& d) { return curve.df(d); });
}

std::vector<date> CurveFuture::dates() const {
    std::vector<date> result;
    for (const Term& term : terms_) {
        result.push_back(term.from);
        result.push_back(term.to);
    }
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

double CurveFuture::differentiate(const YieldCurve& curve, double adjoint, double* row) const {
    double sum = realised_;
    for (const Term& term : terms_) {
        const double growth = compounded_ ? growth_ : 1.0;
        const auto from = curve.dfSensitivity(curve.point(term.from));
        const auto to = curve.dfSensitivity(curve.point(term.to));
        sum += term.weight * period::forwardRate(growth * from.value, to.value, term.fraction);
        // d/dDF(from) = w g / (tau DF(to)); d/dDF(to) = -w g DF(from) / (tau DF(to)^2).
        const double scale = 100.0 * adjoint * term.weight * growth / term.fraction;
        curve.addDerivatives(from, scale / to.value, row);
        curve.addDerivatives(to, -(scale * from.value / (to.value * to.value)), row);
    }
    return 100.0 * sum;
}

} // namespace tsr
