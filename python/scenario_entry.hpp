#pragma once

#include "python/py_ref.hpp"

namespace tsr {

// The module functions of scenario revaluation, for PyModule_AddFunctions.
PyMethodDef* scenarioModuleFunctions();

} // namespace tsr
