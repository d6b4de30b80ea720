#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tsr {

class PillarPricer;
class YieldCurve;

// Solves every pillar of the curve at once, for a curve whose instruments read later pillars:
// Newton's method on the vector of instrument values P(r), pricer k pricing the instrument of
// pillar k quoted at quotes[k] (percent), each step solving dP/dr dr = -P with the full
// dP/dr, from the rates the curve holds. It stops when no rate moves by more than a few
// units in the last place of 1, as the pillar-by-pillar root search does. When it fails,
// the std::runtime_error names the instrument furthest from its quote, `describe(k)`.
void solvePillarsTogether(YieldCurve& curve, std::vector<PillarPricer>& pricers,
                          const std::vector<double>& quotes,
                          const std::function<std::string(std::size_t)>& describe);

} // namespace tsr
