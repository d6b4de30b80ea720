#include "python/py_datetime.hpp"
#include "python/python_types.hpp"
#include "python/yield_curve_entry.hpp"

namespace tsr {

namespace {

PyObject* curveRepr(PyObject* self) {
    return PyUnicode_FromFormat("<YieldCurveObject at %p>", static_cast<void*>(self));
}

PyObject* curveDf(PyObject* self, PyObject* args) {
    PyObject* when = parseDateArgument(args);
    if (when == nullptr) {
        return nullptr;
    }
    const PyDateParts parts = pyDateParts(when);
    int status = 0;
    const double df = yieldCurveDf(handleOf(self), parts.year, parts.month, parts.day, &status);
    if (status == -1) {
        return nullptr;
    }
    return PyFloat_FromDouble(df);
}

PyObject* curveDates(PyObject* self, PyObject* /*unused*/) {
    return yieldCurveDates(handleOf(self));
}

PyObject* curveRates(PyObject* self, PyObject* /*unused*/) {
    return yieldCurveRates(handleOf(self));
}

PyMethodDef curveMethods[] = {
    {"df", methodFunction(curveDf), METH_VARARGS, "Return the discount factor for the given date"},
    {"dates", methodFunction(curveDates), METH_NOARGS, "Returns the curve's relevant dates."},
    {"rates", methodFunction(curveRates), METH_NOARGS,
     "Returns the curve's zero rates corresponding to the relevant dates."},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef curveMembers[] = {
    {nullptr, 0, 0, 0, nullptr},
};

PyTypeObject curveType = emptyTypeObject();

} // namespace

PyTypeObject* yieldCurveType() {
    return &curveType;
}

void fillYieldCurveType() {
    fillHandleType(curveType, "_tessarin.YieldCurve", deallocHandleObject<deleteYieldCurve>,
                   curveRepr, curveMethods, curveMembers,
                   initHandleObject<buildYieldCurve, deleteYieldCurve>);
    curveType.tp_doc =
        "A zero curve bootstrapped from quoted overnight-indexed swaps.\n\n"
        "The dict holds \"id\", \"currency\", \"value date\", optionally \"interpolation\"\n"
        "(\"LinearLogDf\" by default, or \"LinearRates\") and \"instruments\" with the\n"
        "equal-length lists \"generator\", \"tenor\", \"quote\" (percent) and \"in use\".";
}

PyObject* newHandleObject(PyTypeObject* type, PyObject* /*args*/, PyObject* /*kwds*/) {
    PyObject* self = type->tp_alloc(type, 0);
    if (self != nullptr) {
        handleOf(self) = nullptr;
    }
    return self;
}

} // namespace tsr
