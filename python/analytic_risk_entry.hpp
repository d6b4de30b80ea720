#pragma once

#include "python/py_ref.hpp"

namespace tsr {

// Module functions of exact key-rate risk: irs_analytic_risk and yield_curve_jacobian. The
// table ends in a sentinel, ready for PyModule_AddFunctions.
PyMethodDef* analyticRiskFunctions();

} // namespace tsr
