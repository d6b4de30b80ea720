#include "curves/bootstrap.hpp"

#include "conventions/generator_swap.hpp"
#include "curves/yield_curve.hpp"
#include "curves/yield_curve_builder.hpp"
#include "dates/calendar_repository.hpp"
#include "dates/date_arithmetic.hpp"
#include "dates/tenor.hpp"
#include "products/product_interest_rate_swap.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/math/tools/toms748_solve.hpp>

#include <cstdint>
#include <limits>
#include <stdexcept>

namespace tsr {

namespace {

// Each pillar is searched between -100% and +100%, with at most this many
// price evaluations, the two bracket ends included.
constexpr double lowerRate = -1.0;
constexpr double upperRate = 1.0;
constexpr std::uintmax_t evaluationBudget = 100;

double legValue(const ProductInterestRateSwap::SwapLeg& leg, const YieldCurve& curve) {
    double value = 0.0;
    for (std::size_t j = 0; j < leg.paymentDates.size(); ++j) {
        const double fraction = leg.dayCountFractions[j];
        if (fraction == 0.0) {
            continue; // a period adjusted to zero length accrues nothing
        }
        double rate = leg.rate;
        if (!leg.isFixed) {
            // Simple forward of the period implied by the curve.
            rate = leg.margin +
                   (curve.df(leg.accrualStartDates[j]) / curve.df(leg.accrualEndDates[j]) - 1.0) /
                       fraction;
        }
        value += curve.df(leg.paymentDates[j]) * rate * fraction;
    }
    return leg.isPaid ? -value : value;
}

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
        instruments.inUse.size() != n) {
        throw std::invalid_argument("Instruments input should be of the same size.");
    }
}

double price(YieldCurve* curve, std::shared_ptr<const Product> product) {
    const auto* swap = dynamic_cast<const ProductInterestRateSwap*>(product.get());
    if (swap == nullptr) {
        throw std::runtime_error("Error: unsupported curve construction instrument.");
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
    const auto calendar = CalendarRepository::instance().get(generator->calendar());
    const date start = addBusinessDays(valueDate, generator->startDelay(), *calendar);
    const date end = addTenor(start, tenor);

    ObjectTree tree;
    tree.add("id", id.empty() ? generator->id() + " " + tenor.toString() : std::move(id));
    tree.add("start date", boost::gregorian::to_iso_extended_string(start));
    tree.add("end date", boost::gregorian::to_iso_extended_string(end));
    tree.add("leg1.rate", quote / 100.0);
    tree.add("leg2.margin", 0.0);
    tree.add("leg1.notional", 1.0);
    tree.add("leg2.notional", 1.0);
    return std::make_shared<const ProductInterestRateSwap>(std::move(generator), tree);
}

std::size_t solvePillar(YieldCurve& curve, std::size_t k,
                        const std::shared_ptr<const Product>& product) {
    std::size_t evaluations = 0;
    // Every trial rate stays in the curve, so the last one evaluated is kept.
    auto objective = [&](double rate) {
        ++evaluations;
        curve.updateRate(k, rate);
        return price(&curve, product);
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

} // namespace tsr
