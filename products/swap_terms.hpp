#pragma once

#include "core/date.hpp"

#include <array>
#include <string>

namespace tsr {

// The trade numbers of one leg. The rate is read for a fixed leg, the margin for a
// floating one; both are decimals.
struct SwapLegTerms {
    double rate = 0.0;
    double margin = 0.0;
    double notional = 0.0;
};

// The trade numbers of a swap, the typed counterpart of the swap description tree.
struct SwapTerms {
    std::string id;
    date startDate;
    date endDate;
    std::array<SwapLegTerms, 2> legs;
};

} // namespace tsr
