#pragma once

#include "python/py_ref.hpp"

namespace tsr {

// curve_from_dict: a curve dict read once into the library's curve description, checked, and
// bootstrapped.
PyMethodDef* curveSpecFunctions();

} // namespace tsr
