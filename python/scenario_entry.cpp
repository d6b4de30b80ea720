// _tessarin.revalue_scenarios: the native engine of scenario revaluation.

#include "python/scenario_entry.hpp"

#include "pricing/book.hpp"
#include "pricing/scenario_revaluation.hpp"
#include "python/book_type.hpp"
#include "python/entry_guard.hpp"
#include "python/handle_registry.hpp"
#include "python/py_list.hpp"
#include "python/python_types.hpp"
#include "python/swap_inputs.hpp"

#include <cmath>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tsr {

namespace {

// The items of a list argument, with the argument's name in the error.
PyRef listArgument(PyObject* object, const char* name) {
    PyRef sequence = checked(PySequence_Fast(object, name));
    return sequence;
}

template <class T>
std::shared_ptr<const T> resolveObject(PyObject* item, PyTypeObject* type, const char* what,
                                       Py_ssize_t i) {
    if (PyObject_TypeCheck(item, type) == 0) {
        PyErr_Format(PyExc_TypeError, "%s[%zd] must be a %s", what, i, type->tp_name);
        throw PythonError();
    }
    auto object = resolveHandle<T>(handleOf(item));
    if (!object) {
        throw std::runtime_error(std::string("Error, ") + what + "[" + std::to_string(i) +
                                 "] is not initialised.");
    }
    return object;
}

double quoteOf(PyObject* item) {
    const double quote = PyFloat_AsDouble(item);
    if (quote == -1.0 && PyErr_Occurred() != nullptr) {
        throw PythonError();
    }
    return quote;
}

// scenarios: a list per scenario of one entry per curve, None or the list of its quotes.
std::vector<ScenarioRevaluation::Scenario> readScenarios(PyObject* object, std::size_t curves) {
    const PyRef outer = listArgument(object, "scenarios must be a list");
    std::vector<ScenarioRevaluation::Scenario> scenarios;
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(outer.get());
    scenarios.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t s = 0; s < n; ++s) {
        const PyRef row = listArgument(PySequence_Fast_GET_ITEM(outer.get(), s),
                                       "each scenario must be a list, one entry per curve");
        if (static_cast<std::size_t>(PySequence_Fast_GET_SIZE(row.get())) != curves) {
            throw std::invalid_argument("Error, scenario " + std::to_string(s) + " has " +
                                        std::to_string(PySequence_Fast_GET_SIZE(row.get())) +
                                        " entries for " + std::to_string(curves) + " curves.");
        }
        ScenarioRevaluation::Scenario scenario(curves);
        for (std::size_t c = 0; c < curves; ++c) {
            PyObject* entry = PySequence_Fast_GET_ITEM(row.get(), static_cast<Py_ssize_t>(c));
            if (entry == Py_None) {
                continue;
            }
            const PyRef quotes = listArgument(entry, "moved quotes must be a list of numbers");
            std::vector<double>& values = scenario[c].emplace();
            for (Py_ssize_t q = 0; q < PySequence_Fast_GET_SIZE(quotes.get()); ++q) {
                values.push_back(quoteOf(PySequence_Fast_GET_ITEM(quotes.get(), q)));
            }
        }
        scenarios.push_back(std::move(scenario));
    }
    return scenarios;
}

constexpr const char* engineCapsule = "_tessarin.ScenarioEngine";

void dropEngine(PyObject* capsule) {
    delete static_cast<std::shared_ptr<const ScenarioRevaluation>*>(
        PyCapsule_GetPointer(capsule, engineCapsule));
}

std::shared_ptr<const ScenarioRevaluation> engineOf(PyObject* capsule) {
    auto* engine = static_cast<std::shared_ptr<const ScenarioRevaluation>*>(
        PyCapsule_GetPointer(capsule, engineCapsule));
    if (engine == nullptr) {
        PyErr_Clear();
        PyErr_SetString(PyExc_TypeError, "engine must come from scenario_engine()");
        throw PythonError();
    }
    return *engine;
}

PyRef textOrNone(const std::string& text) {
    return PyRef::steal(
        text.empty()
            ? Py_NewRef(Py_None)
            : PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

PyObject* scenarioEngine(PyObject* /*module*/, PyObject* args, PyObject* kwds) {
    static const char* keywords[] = {"swaps", "trade_curves", "curves", "fixings",
                                     "rows",  "threads",      nullptr};
    PyObject* swapsArg = nullptr;
    PyObject* tradeCurvesArg = nullptr;
    PyObject* curvesArg = nullptr;
    PyObject* fixingsArg = Py_None;
    PyObject* rowsArg = Py_None;
    PyObject* threadsArg = nullptr;
    if (PyArg_ParseTupleAndKeywords(args, kwds, "OOO|OOO", const_cast<char**>(keywords), &swapsArg,
                                    &tradeCurvesArg, &curvesArg, &fixingsArg, &rowsArg,
                                    &threadsArg) == 0) {
        return nullptr;
    }
    PyObject* result = nullptr;
    runGuarded([&] {
        // Everything Python is read here, with the interpreter lock held.
        const unsigned threads = threadCountOf(threadsArg);
        const PyRef curveItems = listArgument(curvesArg, "curves must be a list");
        std::vector<std::shared_ptr<const YieldCurve>> curves;
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(curveItems.get()); ++i) {
            curves.push_back(resolveObject<YieldCurve>(
                PySequence_Fast_GET_ITEM(curveItems.get(), i), yieldCurveType(), "curves", i));
        }
        // The swaps: a list of IRS objects, or a Book and the rows of its built trades.
        const std::shared_ptr<const Book> book = bookOf(swapsArg);
        const PyRef swapItems =
            book ? PyRef() : listArgument(swapsArg, "swaps must be a list of IRS or a Book");
        const PyRef rowItems = book && rowsArg != Py_None
                                   ? listArgument(rowsArg, "rows must be a list of book rows")
                                   : PyRef();
        const PyRef curveIndices = listArgument(tradeCurvesArg, "trade_curves must be a list");
        const Py_ssize_t n = book ? (rowItems ? PySequence_Fast_GET_SIZE(rowItems.get())
                                              : static_cast<Py_ssize_t>(book->size()))
                                  : PySequence_Fast_GET_SIZE(swapItems.get());
        if (PySequence_Fast_GET_SIZE(curveIndices.get()) != n) {
            throw std::invalid_argument("Error, swaps and trade_curves differ in length.");
        }
        std::vector<ScenarioRevaluation::Trade> trades;
        trades.reserve(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            const Py_ssize_t curve =
                PyLong_AsSsize_t(PySequence_Fast_GET_ITEM(curveIndices.get(), i));
            if (curve == -1 && PyErr_Occurred() != nullptr) {
                throw PythonError();
            }
            if (curve < 0 || static_cast<std::size_t>(curve) >= curves.size()) {
                throw std::out_of_range("Error, trade_curves[" + std::to_string(i) +
                                        "] names no curve.");
            }
            std::shared_ptr<const ProductInterestRateSwap> swap;
            if (book) {
                const Py_ssize_t row =
                    rowItems ? PyLong_AsSsize_t(PySequence_Fast_GET_ITEM(rowItems.get(), i)) : i;
                if (row == -1 && PyErr_Occurred() != nullptr) {
                    throw PythonError();
                }
                if (row < 0 || static_cast<std::size_t>(row) >= book->size() ||
                    !book->swaps()[static_cast<std::size_t>(row)]) {
                    throw std::out_of_range("Error, rows[" + std::to_string(i) +
                                            "] is not a built trade of the book.");
                }
                swap = book->swaps()[static_cast<std::size_t>(row)];
            } else {
                swap = resolveObject<ProductInterestRateSwap>(
                    PySequence_Fast_GET_ITEM(swapItems.get(), i), interestRateSwapType(), "swaps",
                    i);
            }
            trades.push_back({std::move(swap), static_cast<std::size_t>(curve)});
        }
        const FixingsMap fixings =
            fixingsArg == Py_None ? FixingsMap() : transformFixings(fixingsArg);

        std::shared_ptr<const ScenarioRevaluation> engine;
        std::exception_ptr failure;
        Py_BEGIN_ALLOW_THREADS try {
            engine = std::make_shared<const ScenarioRevaluation>(
                std::move(curves), std::move(trades), fixings, threads);
        } catch (...) {
            failure = std::current_exception();
        }
        Py_END_ALLOW_THREADS if (failure) {
            std::rethrow_exception(failure);
        }

        PyRef errors = listOf(engine->errors(), textOrNone);
        PyRef base = listOf(engine->baseNpv(), PyFloat_FromDouble);
        auto* held = new std::shared_ptr<const ScenarioRevaluation>(std::move(engine));
        PyRef capsule = PyRef::steal(PyCapsule_New(held, engineCapsule, dropEngine));
        if (!capsule) {
            delete held;
            throw PythonError();
        }
        if (!base ||
            (result = PyTuple_Pack(3, capsule.get(), base.get(), errors.get())) == nullptr) {
            throw PythonError();
        }
    });
    return result;
}

PyObject* revalueScenarios(PyObject* /*module*/, PyObject* args, PyObject* kwds) {
    static const char* keywords[] = {"engine", "scenarios", "first", "last", "threads", nullptr};
    PyObject* engineArg = nullptr;
    PyObject* scenariosArg = nullptr;
    Py_ssize_t first = 0;
    Py_ssize_t last = -1;
    PyObject* threads = nullptr;
    if (PyArg_ParseTupleAndKeywords(args, kwds, "OO|nnO", const_cast<char**>(keywords), &engineArg,
                                    &scenariosArg, &first, &last, &threads) == 0) {
        return nullptr;
    }
    PyObject* result = nullptr;
    runGuarded([&] {
        const unsigned workers = threadCountOf(threads);
        const std::shared_ptr<const ScenarioRevaluation> engine = engineOf(engineArg);
        const std::size_t end = last < 0 ? engine->size() : static_cast<std::size_t>(last);
        if (first < 0) {
            throw std::out_of_range("Error, first must not be negative.");
        }
        const std::vector<ScenarioRevaluation::Scenario> scenarios =
            readScenarios(scenariosArg, engine->curveCount());
        ScenarioRevaluation::Result run;
        std::exception_ptr failure;
        Py_BEGIN_ALLOW_THREADS try {
            run = engine->run(scenarios, workers, static_cast<std::size_t>(first), end);
        } catch (...) {
            failure = std::current_exception();
        }
        Py_END_ALLOW_THREADS if (failure) {
            std::rethrow_exception(failure);
        }
        PyRef failures = checked(PyList_New(0));
        for (const auto& f : run.failures) {
            append(failures.get(),
                   PyRef::steal(Py_BuildValue("(nns)", static_cast<Py_ssize_t>(f.scenario),
                                              static_cast<Py_ssize_t>(f.curve), f.error.c_str())));
        }
        PyRef pnl = PyRef::steal(
            PyBytes_FromStringAndSize(reinterpret_cast<const char*>(run.pnl.data()),
                                      static_cast<Py_ssize_t>(run.pnl.size() * sizeof(double))));
        if (!pnl || (result = PyTuple_Pack(2, pnl.get(), failures.get())) == nullptr) {
            throw PythonError();
        }
    });
    return result;
}

PyMethodDef scenarioFunctions[] = {
    {"scenario_engine", methodFunction(scenarioEngine), METH_VARARGS | METH_KEYWORDS,
     "scenario_engine(swaps, trade_curves, curves, fixings=None, rows=None, threads=1)\n--\n\n"
     "Prices swaps on their base curves for scenario revaluation. swaps: _tessarin.IRS objects, "
     "or a _tessarin.Book whose built trades `rows` (default: all) are taken; "
     "trade_curves: the index into curves of each swap's curve (_tessarin.YieldCurve objects "
     "built from instruments), which discounts and projects it; fixings: a fixings dict or None. "
     "Returns (engine, base NPVs, per-swap error or None); a swap that cannot be priced is NaN. "
     "The swaps are priced on `threads` threads, which changes no number."},
    {"revalue_scenarios", methodFunction(revalueScenarios), METH_VARARGS | METH_KEYWORDS,
     "revalue_scenarios(engine, scenarios, first=0, last=-1, threads=1)\n--\n\n"
     "PnL of the engine's swaps [first, last) under scenarios: per scenario, one entry per curve, "
     "None or the curve's moved quotes (percent). Returns (PnL as float64 bytes, scenarios x "
     "swaps, NaN where not priced, [(scenario, curve, error)] of the curves that did not "
     "build)."},
    {nullptr, nullptr, 0, nullptr},
};

} // namespace

PyMethodDef* scenarioModuleFunctions() {
    return scenarioFunctions;
}

} // namespace tsr
