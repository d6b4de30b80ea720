// Times the bootstrap of a 20-instrument USD SOFR curve and discount-factor
// lookups, and counts the price evaluations each pillar needs.
#include "conventions/init_defaults.hpp"
#include "curves/bootstrap.hpp"
#include "curves/yield_curve_builder.hpp"
#include "products/product.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#ifndef TESSARIN_BUILD_TYPE
#define TESSARIN_BUILD_TYPE "unknown"
#endif

namespace {

using Clock = std::chrono::steady_clock;

const tsr::date valueDate(2026, 3, 16);

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
    tsr::addVector(table, "generator", std::vector<std::string>(tenors.size(), "USD SOFR SW"));
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

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <class F> double medianMicroseconds(int repetitions, int batch, F&& f) {
    std::vector<double> samples;
    for (int r = 0; r < repetitions; ++r) {
        const auto start = Clock::now();
        for (int b = 0; b < batch; ++b) {
            f();
        }
        const std::chrono::duration<double, std::micro> elapsed = Clock::now() - start;
        samples.push_back(elapsed.count() / batch);
    }
    return median(samples);
}

void evaluationsPerPillar(const std::string& interpolation) {
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
    std::printf("evaluations per pillar (%s):", interpolation.c_str());
    std::size_t total = 0;
    for (std::size_t k = 0; k < products.size(); ++k) {
        const std::size_t n = tsr::solvePillar(curve, k, products[k]);
        total += n;
        std::printf(" %s=%zu", tenors[k].c_str(), n);
    }
    std::printf("\n  total %zu, mean %.1f\n", total,
                static_cast<double>(total) / static_cast<double>(products.size()));
}

} // namespace

int main() {
    initDefaults();
    std::printf("build type: %s\n", TESSARIN_BUILD_TYPE);

    for (const std::string interpolation : {"LinearRates", "LinearLogDf"}) {
        const tsr::ObjectTree tree = curveTree(interpolation);
        const double bootstrap =
            medianMicroseconds(15, 20, [&] { (void)tsr::YieldCurveBuilder::build2(tree); });
        std::printf("bootstrap, %zu instruments (%s): median %.1f us\n", tenors.size(),
                    interpolation.c_str(), bootstrap);
        evaluationsPerPillar(interpolation);

        const auto curve = tsr::YieldCurveBuilder::build2(tree);
        std::vector<tsr::date> probes;
        for (int day = 1; day <= 12000; day += 7) {
            probes.push_back(valueDate + boost::gregorian::days(day));
        }
        double sink = 0.0;
        const double perSweep = medianMicroseconds(15, 50, [&] {
            for (const auto& d : probes) {
                sink += curve->df(d);
            }
        });
        std::printf("df (%s): median %.1f ns per call (checksum %.6f)\n", interpolation.c_str(),
                    1000.0 * perSweep / static_cast<double>(probes.size()), sink);
    }
    return 0;
}
