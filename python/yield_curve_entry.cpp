#include "python/yield_curve_entry.hpp"

#include "curves/yield_curve.hpp"
#include "curves/yield_curve_builder.hpp"
#include "python/entry_guard.hpp"
#include "python/handle_registry.hpp"
#include "python/py_conversion.hpp"
#include "python/py_datetime.hpp"
#include "python/py_list.hpp"

#include <stdexcept>
#include <vector>

namespace {

std::shared_ptr<const tsr::YieldCurve> requireCurve(void* handle) {
    auto curve = tsr::resolveHandle<tsr::YieldCurve>(handle);
    if (!curve) {
        throw std::runtime_error("Error, the yield curve is not initialised.");
    }
    return curve;
}

// A list of the converted items, or None when the handle names no curve.
template <class Items, class Convert>
PyObject* curveList(void* handle, Items items, Convert convert) {
    PyObject* result = nullptr;
    tsr::runGuarded([&] {
        const auto curve = tsr::resolveHandle<tsr::YieldCurve>(handle);
        if (!curve) {
            result = Py_NewRef(Py_None);
            return;
        }
        result = tsr::listOf(items(*curve), convert).release();
    });
    return result;
}

} // namespace

void* buildYieldCurve(PyObject* obj, int* status) {
    *status = -1;
    void* handle = nullptr;
    tsr::runGuarded([&] {
        std::shared_ptr<const tsr::YieldCurve> curve =
            tsr::YieldCurveBuilder::build2(tsr::pyObjectToPropertyTree(obj, "root"));
        handle = tsr::registerHandle(std::move(curve));
        *status = 0;
    });
    return handle;
}

double yieldCurveDf(void* handle, int year, int month, int day, int* status) {
    *status = -1;
    double df = 0.0;
    tsr::runGuarded([&] {
        const tsr::date d(year, month, day);
        df = requireCurve(handle)->df(d);
        *status = 0;
    });
    return df;
}

PyObject* yieldCurveDates(void* handle) {
    return curveList(
        handle, [](const tsr::YieldCurve& curve) { return curve.dates(); },
        [](const tsr::date& d) { return tsr::newPyDate(d); });
}

PyObject* yieldCurveRates(void* handle) {
    return curveList(
        handle, [](const tsr::YieldCurve& curve) { return curve.rates(); },
        [](double rate) { return tsr::PyRef::steal(PyFloat_FromDouble(rate)); });
}

void deleteYieldCurve(void* handle) {
    tsr::releaseHandle(handle);
}
