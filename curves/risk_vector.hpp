#pragma once

#include <vector>

namespace tsr {

// A value carried with its derivatives with respect to a curve's pillar
// rates: entry k of `derivatives` is d(value)/d(rate k).
struct RiskVector {
    double value;
    std::vector<double> derivatives;
};

// Flips the sign of the value and of every derivative (0.0 becomes -0.0).
RiskVector operator-(RiskVector x);

// exp of the value; the chain rule scales every derivative by that exp.
RiskVector exp(RiskVector x);

} // namespace tsr
