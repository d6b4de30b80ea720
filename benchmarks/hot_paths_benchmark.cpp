// Times the C++ hot paths on a 20-instrument USD SOFR curve: discount factors,
// schedule generation, one pillar solve, a full bootstrap, and the price and
// key-rate risk of a 10-year swap, by bumping and analytic. Counts heap allocations made by df.
#include "conventions/generator_repository.hpp"
#include "conventions/generator_swap.hpp"
#include "conventions/init_defaults.hpp"
#include "curves/bootstrap.hpp"
#include "curves/curve_jacobian.hpp"
#include "curves/yield_curve_builder.hpp"
#include "dates/calendar_repository.hpp"
#include "dates/date_arithmetic.hpp"
#include "pricing/analytic_risk.hpp"
#include "pricing/model_discounted_cash_flow.hpp"
#include "products/product_interest_rate_swap.hpp"
#include "tests/cpp/allocation_counter.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <time.h>

#ifndef TESSARIN_BUILD_TYPE
#define TESSARIN_BUILD_TYPE "unknown"
#endif

namespace {

// The thread's CPU time, in microseconds: on a shared machine other programs disturb it far
// less than the wall clock.
double cpuMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return 1e6 * static_cast<double>(now.tv_sec) + 1e-3 * static_cast<double>(now.tv_nsec);
}

// Monday 16 March 2026: spot is 18 March, and the holiday lists cover the first five years.
const tsr::date valueDate(2026, 3, 16);
const std::string generatorId = "USD SOFR SW";

const std::vector<std::string> tenors = {"1M",  "2M",  "3M",  "4M",  "6M",  "9M", "1Y",
                                         "18M", "2Y",  "3Y",  "4Y",  "5Y",  "6Y", "7Y",
                                         "8Y",  "10Y", "12Y", "15Y", "20Y", "30Y"};
const std::vector<double> quotes = {4.33, 4.31, 4.27, 4.22, 4.12, 3.98, 3.85, 3.70, 3.61, 3.52,
                                    3.50, 3.51, 3.54, 3.58, 3.62, 3.69, 3.76, 3.84, 3.90, 3.86};

tsr::ObjectTree curveTree(const std::string& interpolation) {
    tsr::ObjectTree tree;
    tree.add("value date", valueDate);
    tree.add("id", std::string("USD SOFR"));
    tree.add("currency", std::string("USD"));
    tree.add("interpolation", interpolation);
    tsr::ObjectTree table;
    tsr::addVector(table, "generator", std::vector<std::string>(tenors.size(), generatorId));
    tsr::addVector(table, "tenor", tenors);
    tsr::addVector(table, "quote", quotes);
    tsr::ObjectTree inUse;
    for (std::size_t i = 0; i < tenors.size(); ++i) {
        inUse.push_back({"", tsr::ObjectTree(std::make_shared<tsr::BoxedValue>(true))});
    }
    table.add_child("in use", inUse);
    tree.add_child("instruments", table);
    return tree;
}

tsr::YieldCurveInstruments curveInstruments() {
    return {std::vector<std::string>(tenors.size(), generatorId), tenors,
            std::vector<bool>(tenors.size(), true), quotes};
}

std::shared_ptr<const tsr::GeneratorSwap> swapGenerator() {
    return tsr::GeneratorRepository::instance().get<tsr::GeneratorSwap>(generatorId);
}

tsr::date spotDate() {
    const auto calendar = tsr::CalendarRepository::instance().get("US");
    return tsr::addBusinessDays(valueDate, 2, *calendar);
}

// Pays 3.60% fixed against SOFR on 10 million for ten years from spot.
std::shared_ptr<const tsr::Product> tenYearSwap() {
    const tsr::date start = spotDate();
    tsr::ObjectTree tree;
    tree.add("id", std::string("USD 10Y payer"));
    tree.add("start date", start);
    tree.add("end date", tsr::addTenor(start, tsr::Tenor("10Y")));
    tree.add("leg1.rate", 0.036);
    tree.add("leg1.notional", 1e7);
    tree.add("leg2.margin", 0.0);
    tree.add("leg2.notional", 1e7);
    return std::make_shared<const tsr::ProductInterestRateSwap>(swapGenerator(), tree);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Median over `repetitions` timed batches of the time of one call, in microseconds.
template <class F> double medianMicroseconds(int repetitions, int batch, F&& f) {
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(repetitions));
    for (int r = 0; r < repetitions; ++r) {
        const double start = cpuMicroseconds();
        for (int b = 0; b < batch; ++b) {
            f();
        }
        samples.push_back((cpuMicroseconds() - start) / batch);
    }
    return median(samples);
}

void row(const char* what, double microseconds) {
    if (microseconds < 1.0) {
        std::printf("  %-44s %10.1f ns\n", what, 1000.0 * microseconds);
    } else {
        std::printf("  %-44s %10.2f us\n", what, microseconds);
    }
}

void discountFactors(const tsr::YieldCurve& curve) {
    std::vector<tsr::date> probes;
    for (int k = 0; k < 1000; ++k) {
        probes.push_back(valueDate + boost::gregorian::days(1 + 11 * k));
    }
    double sink = 0.0;
    const double sweep = medianMicroseconds(31, 50, [&] {
        for (const auto& d : probes) {
            sink += curve.df(d);
        }
    });
    row("df, per call (1,000 dates)", sweep / static_cast<double>(probes.size()));
    const std::size_t before = tsr::test::allocations.load();
    for (const auto& d : probes) {
        sink += curve.df(d);
    }
    std::printf("  %-44s %10zu    (checksum %.9f)\n", "  heap allocations in 1,000 df calls",
                tsr::test::allocations.load() - before, sink);
}

void pillarSolve(const std::string& interpolation) {
    const auto details = tsr::YieldCurveBuilder::validate(curveTree(interpolation));
    const auto products = tsr::YieldCurveBuilder::construct(
        details.valueDate, details.tenors, details.generators, details.quotes, details.inUse);
    std::vector<tsr::date> dates;
    std::vector<double> rates;
    for (std::size_t k = 0; k < products.size(); ++k) {
        dates.push_back(products[k]->lastDate());
        rates.push_back(quotes[k] / 100.0);
    }
    const auto kind = interpolation == "LinearRates" ? tsr::YieldCurveInterpolation::LinearRates
                                                     : tsr::YieldCurveInterpolation::LinearLogDf;
    tsr::YieldCurve curve(valueDate, dates, rates, kind);
    std::size_t total = 0;
    for (std::size_t k = 0; k < products.size(); ++k) {
        total += tsr::solvePillar(curve, k, products[k]);
    }
    // Re-solving a pillar repeats the same search: its solve does not read its own rate.
    const std::size_t tenYear = 15;
    const double solve = medianMicroseconds(
        21, 20, [&] { (void)tsr::solvePillar(curve, tenYear, products[tenYear]); });
    row("one pillar solve (10Y)", solve);
    std::printf("  %-44s %10zu    (mean %.1f per pillar)\n", "  price evaluations, whole curve",
                total, static_cast<double>(total) / static_cast<double>(products.size()));
}

} // namespace

int main() {
    initDefaults();
    std::printf("build type: %s; medians of thread CPU time\n", TESSARIN_BUILD_TYPE);

    const auto generator = swapGenerator();
    const tsr::date start = spotDate();
    const tsr::date end = tsr::addTenor(start, tsr::Tenor("10Y"));
    std::vector<tsr::date> starts, ends, payments;
    std::vector<double> fractions;
    row("schedule generation, 10Y, both legs", medianMicroseconds(21, 200, [&] {
            for (const auto& leg : generator->legs()) {
                leg->generate(start, end, starts, ends, payments, fractions);
            }
        }));
    std::vector<tsr::Tenor> parsed;
    for (const auto& t : tenors) {
        parsed.emplace_back(t);
    }
    row("curve instruments, all 20", medianMicroseconds(21, 20, [&] {
            for (std::size_t i = 0; i < parsed.size(); ++i) {
                (void)tsr::makeCurveInstrument(valueDate, generator, parsed[i], quotes[i]);
            }
        }));

    const auto swap = tenYearSwap();
    for (const std::string interpolation : {"LinearLogDf", "LinearRates"}) {
        std::printf("%s\n", interpolation.c_str());
        const tsr::ObjectTree tree = curveTree(interpolation);
        row("bootstrap from the input tree (build2)",
            medianMicroseconds(21, 10, [&] { (void)tsr::YieldCurveBuilder::build2(tree); }));
        const auto instruments = curveInstruments();
        const double build = medianMicroseconds(21, 10, [&] {
            const tsr::YieldCurve curve("USD SOFR", valueDate, "USD", interpolation, instruments);
        });
        row("bootstrap from instruments (constructor)", build);
        // A new value date for every build: no instrument of an earlier build can be reused.
        int shift = 0;
        row("  the same, a new value date each time", medianMicroseconds(21, 10, [&] {
                const tsr::YieldCurve curve("USD SOFR", valueDate + boost::gregorian::days(++shift),
                                            "USD", interpolation, instruments);
            }));
        pillarSolve(interpolation);

        const auto curve = tsr::YieldCurveBuilder::build2(tree);
        discountFactors(*curve);
        tsr::CurveMap curves{{"USD", curve.get()}, {"SOFR", curve.get()}};
        const tsr::FixingsMap fixings;
        double npv = 0.0;
        row("price, 10Y swap", medianMicroseconds(21, 200, [&] {
                npv = tsr::ModelDiscountedCashFlow::price(swap, curves, fixings).get<double>("NPV");
            }));
        tsr::ObjectTree risk;
        const double bumped = medianMicroseconds(
            7, 1, [&] { risk = tsr::ModelDiscountedCashFlow::risk(swap, curves, fixings); });
        row("risk, 10Y swap over 20 quotes", bumped);
        double total = 0.0;
        for (const auto& entry : risk.get_child("Net")) {
            total += entry.second.get_value<double>();
        }
        std::printf("  %-44s %.6f / %.6f\n", "  NPV / sum of net risk", npv, total);

        // Exact risk: the Jacobian once per curve, then one reverse pass per swap.
        const double jacobianTime =
            medianMicroseconds(21, 10, [&] { const tsr::CurveJacobian jacobian(*curve); });
        row("curve Jacobian (once per curve)", jacobianTime);
        std::printf("  %-44s %10.3f\n", "  Jacobian / bootstrap (target <= 1)",
                    jacobianTime / build);
        const auto& irs = dynamic_cast<const tsr::ProductInterestRateSwap&>(*swap);
        (void)curve->jacobian();
        tsr::KeyRateRisk exact;
        const double analytic =
            medianMicroseconds(21, 200, [&] { exact = tsr::analyticRisk(irs, curves, fixings); });
        row("analytic risk, 10Y swap (Jacobian ready)", analytic);
        std::printf("  %-44s %10.4f\n", "  analytic / bumped risk", analytic / bumped);
        double largest = 0.0;
        std::size_t m = 0;
        for (const auto& entry : risk.get_child("Net")) {
            largest =
                std::max(largest, std::abs(entry.second.get_value<double>() - exact.net[m++]));
        }
        std::printf("  %-44s %.3g\n", "  largest |bump - analytic| of Net", largest);
    }
    return 0;
}
