#include "curves/yield_curve_builder.hpp"

#include "conventions/generator_repository.hpp"
#include "conventions/generator_swap.hpp"
#include "core/boxed_value.hpp"
#include "curves/bootstrap.hpp"
#include "curves/curve_description.hpp"
#include "products/product.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace tsr {

namespace {

template <class T> std::vector<T> column(const ObjectTree& table, const std::string& key) {
    std::vector<T> values;
    for (const auto& element : table.get_child(key)) {
        values.push_back(element.second.get_value<T>());
    }
    return values;
}

// An optional column of dates, ISO text or empty cells (None); empty when absent.
std::vector<std::optional<date>> dateColumn(const ObjectTree& table, const std::string& key) {
    std::vector<std::optional<date>> values;
    const auto found = table.get_child_optional(key);
    if (!found) {
        return values;
    }
    for (const auto& element : *found) {
        const BoxedValue& cell = boxedValue(element.second);
        const auto* text = std::get_if<std::string>(&cell.value());
        if (text != nullptr && text->empty()) {
            values.emplace_back();
        } else {
            values.emplace_back(cell.get<date>());
        }
    }
    return values;
}

// Reads in the documented order, so that the first missing key is the one reported.
CurveDescription readInput(const ObjectTree& tree, bool withInterpolation) {
    CurveDescription input;
    input.valueDate = tree.get<date>("value date");
    input.id = tree.get<std::string>("id");
    input.currency = tree.get<std::string>("currency");
    if (withInterpolation) {
        if (const auto interpolation = tree.get_optional<std::string>("interpolation")) {
            input.interpolation = *interpolation;
        }
        if (const auto cubicFrom = tree.get_optional<std::string>("cubic from")) {
            input.cubicFrom = *cubicFrom;
        }
    }
    const ObjectTree& table = tree.get_child("instruments");
    input.instruments.generators = column<std::string>(table, "generator");
    input.instruments.tenors = column<std::string>(table, "tenor");
    input.instruments.quotes = column<double>(table, "quote");
    input.instruments.inUse = column<bool>(table, "in use");
    input.instruments.starts = dateColumn(table, "start");
    input.instruments.ends = dateColumn(table, "end");
    if (table.get_child_optional("convexity")) {
        for (const auto& element : table.get_child("convexity")) {
            // Rows other than futures may leave the cell empty (None).
            const auto* text = std::get_if<std::string>(&boxedValue(element.second).value());
            input.instruments.convexities.push_back(
                text != nullptr && text->empty() ? 0.0 : element.second.get_value<double>());
        }
    }
    if (const auto fixings = tree.get_child_optional("fixings")) {
        for (const auto& [index, series] : *fixings) {
            auto& [dates, values] = input.instruments.fixings[index];
            dates = column<date>(series, "dates");
            values = column<double>(series, "values");
        }
    }
    if (const auto turns = tree.get_child_optional("turns")) {
        for (const auto& element : *turns) {
            const ObjectTree& turn = element.second;
            input.instruments.turns.push_back(
                {turn.get<date>("start"), turn.get<date>("end"), turn.get<double>("spread")});
        }
    }
    return input;
}

std::shared_ptr<const Generator> lookupGenerator(const std::string& label) {
    return GeneratorRepository::instance().get<Generator>(label);
}

} // namespace

std::shared_ptr<YieldCurve> YieldCurveBuilder::build2(ObjectTree tree) {
    return buildCurve(readInput(tree, true));
}

YieldCurveBuilder::YieldCurveDetails YieldCurveBuilder::validate(ObjectTree tree) {
    CurveDescription input = readInput(tree, false);
    requireSameSize(input.instruments);
    requireFiniteQuotes(input.instruments, input.instruments.quotes.size());
    YieldCurveDetails details;
    details.valueDate = input.valueDate;
    details.currency = std::move(input.currency);
    details.label = std::move(input.id);
    details.quotes = std::move(input.instruments.quotes);
    details.inUse = std::move(input.instruments.inUse);
    const std::size_t n = input.instruments.generators.size();
    details.generators.reserve(n);
    details.tenors.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        details.generators.push_back(lookupGenerator(input.instruments.generators[i]));
        details.tenors.emplace_back(input.instruments.tenors[i]);
    }
    return details;
}

std::vector<std::shared_ptr<const Product>>
YieldCurveBuilder::construct(date valueDate, std::vector<Tenor> tenors,
                             std::vector<std::shared_ptr<const Generator>> generators,
                             std::vector<double> quotes, std::vector<bool> inUse) {
    const std::size_t n = tenors.size();
    if (generators.size() != n || quotes.size() != n || inUse.size() != n) {
        throw std::invalid_argument("Instruments input should be of the same size.");
    }
    std::vector<std::shared_ptr<const Product>> products;
    CurveInstrumentMaker maker(valueDate);
    for (std::size_t i = 0; i < n; ++i) {
        auto swap = std::dynamic_pointer_cast<const GeneratorSwap>(generators[i]);
        if (!inUse[i] || !swap) {
            continue;
        }
        products.push_back(maker.make(std::move(swap), tenors[i], quotes[i]));
    }
    return products;
}

std::shared_ptr<YieldCurve> YieldCurveBuilder::build(ObjectTree tree) {
    const CurveDescription input = readInput(tree, false);
    const YieldCurveInstruments& rows = input.instruments;
    const std::size_t n =
        std::min({rows.generators.size(), rows.tenors.size(), rows.quotes.size()});
    if (rows.inUse.size() < n) {
        throw std::invalid_argument("Instruments input should be of the same size.");
    }
    requireFiniteQuotes(rows, n);

    std::vector<std::shared_ptr<const Product>> products;
    std::vector<date> dates;
    std::vector<double> rates;
    double lastTime = 0.0;
    CurveInstrumentMaker maker(input.valueDate);
    for (std::size_t i = 0; i < n; ++i) {
        auto swap =
            std::dynamic_pointer_cast<const GeneratorSwap>(lookupGenerator(rows.generators[i]));
        if (!rows.inUse[i] || !swap) {
            continue;
        }
        const std::string id = rows.generators[i] + " " + rows.tenors[i];
        auto product = maker.make(std::move(swap), Tenor(rows.tenors[i]), rows.quotes[i], id);
        const date pillar = product->lastDate();
        const double time = curveTime(input.valueDate, pillar);
        requirePillarAfter(lastTime, time,
                           id + " (" + boost::gregorian::to_iso_extended_string(pillar) + ")");
        lastTime = time;
        products.push_back(std::move(product));
        dates.push_back(pillar);
        rates.push_back(rows.quotes[i] / 100.0);
    }

    auto curve = std::make_shared<YieldCurve>(input.valueDate, dates, rates,
                                              YieldCurveInterpolation::LinearLogDf);
    for (std::size_t k = 0; k < products.size(); ++k) {
        solvePillar(*curve, k, products[k]);
    }
    return curve;
}

std::vector<double> YieldCurveBuilder::solve(std::shared_ptr<YieldCurve> curve,
                                             std::vector<std::shared_ptr<const Product>> products) {
    if (!curve) {
        throw std::invalid_argument("Error, no curve to solve.");
    }
    const std::size_t n = curve->pillarRates().size();
    if (products.size() != n) {
        throw std::invalid_argument("Error, expected one product per pillar: the curve has " +
                                    std::to_string(n) + " pillars and " +
                                    std::to_string(products.size()) + " products were given.");
    }
    for (std::size_t k = 0; k < n; ++k) {
        solvePillar(*curve, k, products[k]);
    }
    return curve->rates();
}

} // namespace tsr
