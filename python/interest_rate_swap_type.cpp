#include "python/entry_guard.hpp"
#include "python/interest_rate_swap_entry.hpp"
#include "python/py_datetime.hpp"
#include "python/python_types.hpp"

namespace tsr {

namespace {

using SwapQuery = PyObject* (*)(void*, void*, PyObject*, int*);

const char* queryKeywords[] = {"yield_curve", "fixings", nullptr};

PyObject* swapRepr(PyObject* self) {
    return PyUnicode_FromFormat("<InterestRateSwapObject at %p>", static_cast<void*>(self));
}

PyObject* callQuery(SwapQuery query, PyObject* self, PyObject* curve, PyObject* fixings) {
    int status = 0;
    PyObject* result =
        query(handleOf(self), curve != nullptr ? handleOf(curve) : nullptr, fixings, &status);
    return status == -1 ? nullptr : result;
}

// A query that needs a curve: price and risk.
PyObject* queryWithCurve(SwapQuery query, PyObject* self, PyObject* args, PyObject* kwds) {
    PyObject* curve = nullptr;
    PyObject* fixings = nullptr;
    if (PyArg_ParseTupleAndKeywords(args, kwds, "O!|O!", const_cast<char**>(queryKeywords),
                                    yieldCurveType(), &curve, &PyDict_Type, &fixings) == 0) {
        return nullptr;
    }
    return callQuery(query, self, curve, fixings);
}

PyObject* swapPrice(PyObject* self, PyObject* args, PyObject* kwds) {
    return queryWithCurve(interestRateSwapPrice, self, args, kwds);
}

PyObject* swapRisk(PyObject* self, PyObject* args, PyObject* kwds) {
    return queryWithCurve(interestRateSwapRisk, self, args, kwds);
}

PyObject* swapCashflows(PyObject* self, PyObject* args, PyObject* kwds) {
    PyObject* curve = nullptr;
    PyObject* fixings = nullptr;
    if (PyArg_ParseTupleAndKeywords(args, kwds, "|O!O!", const_cast<char**>(queryKeywords),
                                    yieldCurveType(), &curve, &PyDict_Type, &fixings) == 0) {
        return nullptr;
    }
    // A curve object that was never built is an error, not "no curve".
    if (curve != nullptr && handleOf(curve) == nullptr) {
        PyErr_SetString(PyExc_RuntimeError, "Error, the yield curve is not initialised.");
        return nullptr;
    }
    return callQuery(interestRateSwapCashFlows, self, curve, fixings);
}

// Keyword arguments are accepted and ignored.
PyObject* swapRequiredFixings(PyObject* self, PyObject* args, PyObject* /*kwds*/) {
    PyObject* when = parseDateArgument(args);
    if (when == nullptr) {
        return nullptr;
    }
    date asOf;
    // Years before 1400 are refused here with the date library's message.
    if (!runGuarded([&] { asOf = pyDateToDate(when); })) {
        return nullptr;
    }
    int status = 0;
    PyObject* result = interestRateSwapRequiredFixings(handleOf(self), asOf, &status);
    return status == -1 ? nullptr : result;
}

PyMethodDef swapMethods[] = {
    {"price", methodFunction(swapPrice), METH_VARARGS | METH_KEYWORDS,
     "Return the net present value of the interest rate swap."},
    {"risk", methodFunction(swapRisk), METH_VARARGS | METH_KEYWORDS,
     "Return the key rate sensitivities per leg of the interest rate swap."},
    {"cashflows", methodFunction(swapCashflows), METH_VARARGS | METH_KEYWORDS,
     "Returns the cash flows of both legs."},
    {"required_fixings", methodFunction(swapRequiredFixings), METH_VARARGS | METH_KEYWORDS,
     "Returns dictionary with dates."},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef swapMembers[] = {
    {nullptr, 0, 0, 0, nullptr},
};

PyTypeObject swapType = emptyTypeObject();

} // namespace

PyTypeObject* interestRateSwapType() {
    return &swapType;
}

void fillInterestRateSwapType() {
    fillHandleType(swapType, "_tessarin.IRS", deallocHandleObject<deleteInterestRateSwap>, swapRepr,
                   swapMethods, swapMembers,
                   initHandleObject<buildInterestRateSwap, deleteInterestRateSwap>);
    swapType.tp_doc =
        "An interest rate swap built from one flat dict: \"id\", \"effective date\",\n"
        "\"termination date\", \"schedule roll\" and the conventions and trade data\n"
        "of \"leg1\" and \"leg2\".";
}

} // namespace tsr
