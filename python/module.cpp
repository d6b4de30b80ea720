#include "conventions/init_defaults.hpp"
#include "python/analytic_risk_entry.hpp"
#include "python/analytics_functions.hpp"
#include "python/book_type.hpp"
#include "python/calendar_entry.hpp"
#include "python/curve_description_entry.hpp"
#include "python/entry_guard.hpp"
#include "python/input_checks.hpp"
#include "python/py_datetime.hpp"
#include "python/python_types.hpp"
#include "python/scenario_entry.hpp"
#include "python/swap_description_entry.hpp"

namespace {

PyModuleDef moduleDefinition = {
    PyModuleDef_HEAD_INIT, "_tessarin", nullptr, -1, nullptr, nullptr, nullptr, nullptr, nullptr,
};

} // namespace

PyMODINIT_FUNC PyInit__tessarin() {
    tsr::fillYieldCurveType();
    tsr::fillInterestRateSwapType();
    PyTypeObject* curveType = tsr::yieldCurveType();
    PyTypeObject* swapType = tsr::interestRateSwapType();
    if (PyType_Ready(curveType) < 0 || PyType_Ready(swapType) < 0) {
        return nullptr;
    }
    // Dates are refused later, where they are needed, if datetime is missing.
    if (!tsr::datetimeReady()) {
        PyErr_Clear();
    }
    tsr::PyRef module = tsr::PyRef::steal(PyModule_Create2(&moduleDefinition, 1013));
    if (!module ||
        PyModule_AddObjectRef(module.get(), "YieldCurve", reinterpret_cast<PyObject*>(curveType)) <
            0 ||
        PyModule_AddObjectRef(module.get(), "IRS", reinterpret_cast<PyObject*>(swapType)) < 0 ||
        tsr::addBookType(module.get()) < 0) {
        return nullptr;
    }
    // The module's own functions, beside its types.
    for (PyMethodDef* functions :
         {tsr::analyticRiskFunctions(), tsr::analyticsFunctions(), tsr::inputCheckFunctions(),
          tsr::scenarioModuleFunctions(), tsr::calendarFunctions(), tsr::curveSpecFunctions(),
          tsr::swapDescriptionFunctions()}) {
        if (PyModule_AddFunctions(module.get(), functions) < 0) {
            return nullptr;
        }
    }
    if (!tsr::runGuarded([] {
            initDefaults();
            initFutureGenerators();
        })) {
        return nullptr;
    }
    return module.release();
}
