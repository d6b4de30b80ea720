#include "python/analytic_risk_entry.hpp"

#include "curves/curve_jacobian.hpp"
#include "curves/yield_curve.hpp"
#include "pricing/analytic_risk.hpp"
#include "python/entry_guard.hpp"
#include "python/handle_registry.hpp"
#include "python/py_list.hpp"
#include "python/python_types.hpp"
#include "python/swap_inputs.hpp"

#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tsr {

namespace {

std::shared_ptr<const YieldCurve> requireCurve(PyObject* curve) {
    auto resolved = resolveHandle<YieldCurve>(handleOf(curve));
    if (!resolved) {
        throw std::runtime_error("Error, the yield curve is not initialised.");
    }
    return resolved;
}

// A column of the ladder as the tree conversion gives it: a list, or None when empty.
template <class T, class Convert> PyRef column(const std::vector<T>& values, Convert convert) {
    return values.empty() ? PyRef::borrow(Py_None) : listOf(values, convert);
}

// The dict of IRS.risk, made straight from the typed ladder.
// Each value divided by `scale`: 100 gives the risk per 1bp, as a book's table has it.
PyRef riskDict(const KeyRateRisk& risk, double scale = 1.0) {
    PyRef dict = checked(PyDict_New());
    const auto number = [scale](double x) { return PyFloat_FromDouble(x / scale); };
    const std::pair<const char*, PyRef> columns[] = {
        {"Tenor", column(risk.tenors,
                         [](const std::string& t) {
                             return PyUnicode_FromString(
                                 t.c_str()); // up to the first NUL, as the tree's text
                         })},
        {"Leg1", column(risk.leg1, number)},
        {"Leg2", column(risk.leg2, number)},
        {"Net", column(risk.net, number)},
    };
    for (const auto& [key, value] : columns) {
        setItem(dict.get(), key, value);
    }
    return dict;
}

const char* riskKeywords[] = {"swap", "yield_curve", "fixings", "per_bp", nullptr};

PyObject* irsAnalyticRisk(PyObject* /*module*/, PyObject* args, PyObject* kwds) {
    PyObject* swapObject = nullptr;
    PyObject* curveObject = nullptr;
    PyObject* fixings = Py_None;
    int perBp = 0;
    if (PyArg_ParseTupleAndKeywords(args, kwds, "O!O!|Op", const_cast<char**>(riskKeywords),
                                    interestRateSwapType(), &swapObject, yieldCurveType(),
                                    &curveObject, &fixings, &perBp) == 0) {
        return nullptr;
    }
    if (fixings != Py_None && !PyDict_Check(fixings)) {
        PyErr_Format(PyExc_TypeError, "fixings must be a dict or None, not %.200s",
                     Py_TYPE(fixings)->tp_name);
        return nullptr;
    }
    PyObject* result = nullptr;
    runGuarded([&] {
        const auto swap = resolveHandle<ProductInterestRateSwap>(handleOf(swapObject));
        if (!swap) {
            throw std::runtime_error("Error, the interest rate swap is not initialised.");
        }
        const auto curve = requireCurve(curveObject);
        // The one curve discounts and projects, as for IRS.risk.
        CurveMap curves{{swap->legs()[0].currency, curve.get()}};
        for (const auto& leg : swap->legs()) {
            if (!leg.isFixed) {
                curves[leg.index] = curve.get();
            }
        }
        const FixingsMap fixingsMap = fixings != Py_None ? transformFixings(fixings) : FixingsMap();
        KeyRateRisk risk;
        std::exception_ptr error;
        Py_BEGIN_ALLOW_THREADS try { risk = analyticRisk(*swap, curves, fixingsMap); } catch (...) {
            error = std::current_exception();
        }
        Py_END_ALLOW_THREADS if (error) {
            std::rethrow_exception(error);
        }
        result = riskDict(risk, perBp != 0 ? 100.0 : 1.0).release();
    });
    return result;
}

PyObject* yieldCurveJacobian(PyObject* /*module*/, PyObject* curveObject) {
    if (!PyObject_TypeCheck(curveObject, yieldCurveType())) {
        PyErr_Format(PyExc_TypeError,
                     "yield_curve_jacobian() expects a _tessarin.YieldCurve, not %.200s",
                     Py_TYPE(curveObject)->tp_name);
        return nullptr;
    }
    PyObject* result = nullptr;
    runGuarded([&] {
        const auto curve = requireCurve(curveObject);
        const CurveJacobian* jacobian = nullptr;
        std::exception_ptr error;
        Py_BEGIN_ALLOW_THREADS try { jacobian = &curve->jacobian(); } catch (...) {
            error = std::current_exception();
        }
        Py_END_ALLOW_THREADS if (error) {
            std::rethrow_exception(error);
        }
        PyRef rows = checked(PyList_New(static_cast<Py_ssize_t>(jacobian->pillars())));
        for (std::size_t k = 0; k < jacobian->pillars(); ++k) {
            PyRef row = checked(PyList_New(static_cast<Py_ssize_t>(jacobian->instruments())));
            for (std::size_t m = 0; m < jacobian->instruments(); ++m) {
                PyRef value = checked(PyFloat_FromDouble((*jacobian)(k, m)));
                PyList_SET_ITEM(row.get(), static_cast<Py_ssize_t>(m), value.release());
            }
            PyList_SET_ITEM(rows.get(), static_cast<Py_ssize_t>(k), row.release());
        }
        result = rows.release();
    });
    return result;
}

PyMethodDef functions[] = {
    {"irs_analytic_risk", methodFunction(irsAnalyticRisk), METH_VARARGS | METH_KEYWORDS,
     "irs_analytic_risk(swap, yield_curve, fixings=None, per_bp=False)\n--\n\n"
     "Key-rate risk of the swap from the curve's Jacobian: the dict of IRS.risk, without "
     "bumping; per 1.00 of quote, or with per_bp=True divided by 100, per 1bp."},
    {"yield_curve_jacobian", methodFunction(yieldCurveJacobian), METH_O,
     "yield_curve_jacobian(yield_curve, /)\n--\n\n"
     "d(pillar zero rate)/d(quote in percent): one row per pillar, one entry per curve "
     "instrument in input order."},
    {nullptr, nullptr, 0, nullptr},
};

} // namespace

PyMethodDef* analyticRiskFunctions() {
    return functions;
}

} // namespace tsr
