#pragma once

#include "core/date.hpp"
#include "core/object_tree.hpp"
#include "curves/yield_curve.hpp"
#include "dates/tenor.hpp"

#include <memory>
#include <string>
#include <vector>

namespace tsr {

class Generator;
class Product;

// Reads curve input trees and turns quoted instruments into curves.
class YieldCurveBuilder {
public:
    struct YieldCurveDetails {
        date valueDate;
        std::string currency;
        std::string label;
        std::vector<Tenor> tenors;
        std::vector<std::shared_ptr<const Generator>> generators;
        std::vector<double> quotes;
        std::vector<bool> inUse;
    };

    // The curve of the input tree, bootstrapped with its interpolation
    // ("LinearLogDf" when absent).
    static std::shared_ptr<YieldCurve> build2(ObjectTree tree);

    // The input tree with every generator resolved and every tenor parsed.
    static YieldCurveDetails validate(ObjectTree tree);

    // One swap per used row whose generator is a swap generator, in row order.
    static std::vector<std::shared_ptr<const Product>>
    construct(date valueDate, std::vector<Tenor> tenors,
              std::vector<std::shared_ptr<const Generator>> generators, std::vector<double> quotes,
              std::vector<bool> inUse);

    // A "LinearLogDf" curve bootstrapped from the input tree, keeping no
    // description of its inputs.
    static std::shared_ptr<YieldCurve> build(ObjectTree tree);

    // Solves the curve's pillars in order, product k for pillar k, and returns
    // the solved rates, which the curve then holds.
    static std::vector<double> solve(std::shared_ptr<YieldCurve> curve,
                                     std::vector<std::shared_ptr<const Product>> products);
};

// Value of a curve instrument on the curve, notional 1: each leg's fixed rate
// or curve-implied simple forward, discounted, paid legs negated.
double price(YieldCurve* curve, std::shared_ptr<const Product> product);

} // namespace tsr
