#pragma once

#include "core/date.hpp"

#include <cstddef>
#include <memory>
#include <string>

namespace tsr {

class GeneratorSwap;
class Product;
class Tenor;
class YieldCurve;
struct YieldCurveInstruments;

// The four instrument columns must have one entry per instrument.
void requireSameSize(const YieldCurveInstruments& instruments);

// Pillar times must start after the value date and increase strictly; throws
// std::invalid_argument naming the offending pillar otherwise.
void requirePillarAfter(double previousTime, double time, const std::string& description);

// The swap that a quoted instrument stands for: spot start on the generator's
// calendar, end one tenor later, fixed rate quote / 100, notionals 1. An empty
// id becomes the generator's id and the tenor text.
std::shared_ptr<const Product> makeCurveInstrument(const date& valueDate,
                                                   std::shared_ptr<const GeneratorSwap> generator,
                                                   const Tenor& tenor, double quote,
                                                   std::string id = {});

// Sets the rate of pillar k so that the product prices to zero on the curve.
// The pillar keeps the last trial rate evaluated (the root itself when a bracket
// end prices to exactly zero). Returns the number of price evaluations.
std::size_t solvePillar(YieldCurve& curve, std::size_t k,
                        const std::shared_ptr<const Product>& product);

} // namespace tsr
