#pragma once

#include "python/py_ref.hpp"

namespace tsr {

// swap_from_dict and trades_from_dicts: swap and trade dicts read once, checked, with their
// conventions filled in from a generator.
PyMethodDef* swapDescriptionFunctions();

} // namespace tsr
