#pragma once

#include "core/object_tree.hpp"
#include "pricing/model_discounted_cash_flow.hpp"
#include "python/py_ref.hpp"

#include <string>

namespace tsr {

// The two descriptions a swap is built from, split out of the caller's flat
// dict: conventions for GeneratorSwap, trade numbers for the product.
struct SwapDescriptions {
    ObjectTree generator;
    ObjectTree swap;
    // "<key>," entries of every absent mandatory input, in checking order.
    std::string missing;
};

SwapDescriptions assembleSwapInputs(const ObjectTree& input);

// Fixings dict {index: {"dates": [...], "values": [...]}} -> FixingsMap.
FixingsMap transformFixings(PyObject* fixings);

} // namespace tsr
