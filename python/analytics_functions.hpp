#pragma once

#include "python/py_ref.hpp"

namespace tsr {

// Module functions of _tessarin for curve and swap analytics: zero and forward rates, many
// discount factors in one call, par rate, annuity, DV01 and the required fixings as a list.
PyMethodDef* analyticsFunctions();

} // namespace tsr
