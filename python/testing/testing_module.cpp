// Test-only module: exposes the tree conversions on their own, so that the
// Python tests can check them on trees the library never produces, and builds
// curves straight from C++ values to compare with the dict road.
#include "conventions/generator_repository.hpp"
#include "conventions/init_defaults.hpp"
#include "core/boxed_value.hpp"
#include "core/object_tree.hpp"
#include "curves/yield_curve.hpp"
#include "python/entry_guard.hpp"
#include "python/py_conversion.hpp"
#include "python/py_datetime.hpp"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>

namespace tsr {

namespace {

PyRef checked(PyObject* object) {
    if (object == nullptr) {
        throw PythonError();
    }
    return PyRef::steal(object);
}

// (index, value) of a node's BoxedValue, None for a node without data.
PyRef dumpData(const std::shared_ptr<const Object>& data) {
    if (!data) {
        return PyRef::borrow(Py_None);
    }
    const auto* boxed = dynamic_cast<const BoxedValue*>(data.get());
    if (boxed == nullptr) {
        return checked(PyUnicode_FromString("not boxed"));
    }
    PyRef value;
    const auto& v = boxed->value();
    switch (boxed->index()) {
    case 0:
        value = PyRef::borrow(std::get<0>(v) ? Py_True : Py_False);
        break;
    case 6:
        value = checked(PyLong_FromLong(std::get<6>(v)));
        break;
    case 7:
        value = checked(PyLong_FromLong(std::get<7>(v)));
        break;
    case 10:
        value = checked(PyFloat_FromDouble(std::get<10>(v)));
        break;
    case 17:
        value = checked(PyUnicode_FromStringAndSize(
            std::get<17>(v).data(), static_cast<Py_ssize_t>(std::get<17>(v).size())));
        break;
    case 18:
        value = newPyDate(std::get<18>(v));
        if (!value) {
            throw PythonError();
        }
        break;
    default:
        value = PyRef::borrow(Py_None);
    }
    return checked(Py_BuildValue("(nO)", static_cast<Py_ssize_t>(boxed->index()), value.get()));
}

// [(key, data, children), ...] in child order.
PyRef dumpChildren(const ObjectTree& tree) {
    PyRef list = checked(PyList_New(0));
    for (const auto& [key, child] : tree) {
        PyRef data = dumpData(child.data());
        PyRef children = dumpChildren(child);
        PyRef entry = checked(Py_BuildValue(
            "(s#OO)", key.data(), static_cast<Py_ssize_t>(key.size()), data.get(), children.get()));
        if (PyList_Append(list.get(), entry.get()) < 0) {
            throw PythonError();
        }
    }
    return list;
}

PyRef dumpTree(const ObjectTree& tree) {
    PyRef data = dumpData(tree.data());
    PyRef children = dumpChildren(tree);
    return checked(Py_BuildValue("(OO)", data.get(), children.get()));
}

template <class T> std::shared_ptr<const Object> boxedNumber(PyObject* value) {
    if (PyFloat_Check(value)) {
        return std::make_shared<BoxedValue>(static_cast<T>(PyFloat_AsDouble(value)));
    }
    const long long number = PyLong_AsLongLong(value);
    if (number == -1 && PyErr_Occurred() != nullptr) {
        throw PythonError();
    }
    return std::make_shared<BoxedValue>(static_cast<T>(number));
}

// Data from (index, value): a BoxedValue holding that alternative; the text
// "object" for a plain Object; None for no data.
std::shared_ptr<const Object> makeData(PyObject* layout) {
    if (layout == Py_None) {
        return nullptr;
    }
    if (PyUnicode_Check(layout)) {
        return std::make_shared<Object>();
    }
    Py_ssize_t index = 0;
    PyObject* value = nullptr;
    if (PyArg_ParseTuple(layout, "nO", &index, &value) == 0) {
        throw PythonError();
    }
    switch (index) {
    case 0:
        return std::make_shared<BoxedValue>(PyObject_IsTrue(value) == 1);
    case 1:
        return boxedNumber<char>(value);
    case 2:
        return boxedNumber<wchar_t>(value);
    case 3:
        return boxedNumber<char16_t>(value);
    case 4:
        return boxedNumber<char32_t>(value);
    case 5:
        return boxedNumber<short>(value);
    case 6:
        return boxedNumber<int>(value);
    case 7:
        return boxedNumber<long>(value);
    case 8:
        return boxedNumber<long long>(value);
    case 9:
        return boxedNumber<float>(value);
    case 10:
        return boxedNumber<double>(value);
    case 11:
        return boxedNumber<long double>(value);
    case 12:
        return boxedNumber<unsigned char>(value);
    case 13:
        return boxedNumber<unsigned short>(value);
    case 14:
        return boxedNumber<unsigned int>(value);
    case 15:
        return boxedNumber<unsigned long>(value);
    case 16:
        return boxedNumber<unsigned long long>(value);
    case 17: {
        Py_ssize_t size = 0;
        const char* text = PyBytes_Check(value) != 0 ? PyBytes_AsString(value)
                                                     : PyUnicode_AsUTF8AndSize(value, &size);
        if (text == nullptr) {
            throw PythonError();
        }
        if (PyBytes_Check(value) != 0) {
            size = PyBytes_GET_SIZE(value);
        }
        return std::make_shared<BoxedValue>(std::string(text, static_cast<std::size_t>(size)));
    }
    case 18:
        return std::make_shared<BoxedValue>(pyDateToDate(value));
    default:
        throw std::invalid_argument("no such alternative");
    }
}

// The inverse of dumpTree: (data, [(key, data, children), ...]).
ObjectTree buildTree(PyObject* layout) {
    PyObject* data = nullptr;
    PyObject* children = nullptr;
    if (PyArg_ParseTuple(layout, "OO!", &data, &PyList_Type, &children) == 0) {
        throw PythonError();
    }
    ObjectTree tree(makeData(data));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(children); ++i) {
        const char* key = nullptr;
        Py_ssize_t size = 0;
        PyObject* childData = nullptr;
        PyObject* grandChildren = nullptr;
        if (PyArg_ParseTuple(PyList_GET_ITEM(children, i), "s#OO", &key, &size, &childData,
                             &grandChildren) == 0) {
            throw PythonError();
        }
        PyRef childSpec = checked(Py_BuildValue("(OO)", childData, grandChildren));
        tree.push_back(std::make_pair(std::string(key, static_cast<std::size_t>(size)),
                                      buildTree(childSpec.get())));
    }
    return tree;
}

template <class F> PyObject* guarded(F&& body) {
    PyObject* result = nullptr;
    runGuarded([&] { result = body().release(); });
    return result;
}

PyObject* toTree(PyObject*, PyObject* args) {
    PyObject* obj = nullptr;
    const char* path = "root";
    if (PyArg_ParseTuple(args, "O|s", &obj, &path) == 0) {
        return nullptr;
    }
    return guarded([&] { return dumpTree(pyObjectToPropertyTree(obj, path)); });
}

PyObject* toPython(PyObject*, PyObject* args) {
    PyObject* layout = nullptr;
    const char* path = "root";
    if (PyArg_ParseTuple(args, "O|s", &layout, &path) == 0) {
        return nullptr;
    }
    return guarded([&] { return PyRef::steal(treeToPyObject(buildTree(layout), path)); });
}

PyObject* jsonToTree(PyObject*, PyObject* args) {
    const char* text = nullptr;
    Py_ssize_t size = 0;
    const char* path = "root";
    if (PyArg_ParseTuple(args, "s#|s", &text, &size, &path) == 0) {
        return nullptr;
    }
    return guarded([&] {
        return dumpTree(
            pyJsonStringToTree(std::string(text, static_cast<std::size_t>(size)), path));
    });
}

PyObject* raiseInGuard(PyObject*, PyObject* args) {
    const char* kind = nullptr;
    if (PyArg_ParseTuple(args, "s", &kind) == 0) {
        return nullptr;
    }
    const std::string which(kind);
    return guarded([&]() -> PyRef {
        if (which == "domain_error") {
            throw std::domain_error("domain");
        }
        if (which == "bad_alloc") {
            throw std::bad_alloc();
        }
        if (which == "int") {
            throw 42;
        }
        if (which == "pending") {
            PyErr_SetString(PyExc_KeyError, "already set");
            throw std::runtime_error("hidden");
        }
        return PyRef::borrow(Py_None);
    });
}

// (pillar dates, rates) of a curve bootstrapped by the labelled constructor
// from plain C++ values, without any tree or dict conversion.
PyObject* bootstrapDirect(PyObject*, PyObject* args) {
    PyObject* valueDate = nullptr;
    const char* interpolation = nullptr;
    const char* generator = nullptr;
    PyObject* tenors = nullptr;
    PyObject* quotes = nullptr;
    if (PyArg_ParseTuple(args, "OssO!O!", &valueDate, &interpolation, &generator, &PyList_Type,
                         &tenors, &PyList_Type, &quotes) == 0) {
        return nullptr;
    }
    return guarded([&] {
        // This module carries its own copy of the library and its repositories.
        if (!GeneratorRepository::instance().contains("USD SOFR SW")) {
            initDefaults();
        }
        YieldCurveInstruments instruments;
        for (Py_ssize_t i = 0; i < PyList_Size(tenors); ++i) {
            const char* tenor = PyUnicode_AsUTF8(PyList_GetItem(tenors, i));
            const double quote = PyFloat_AsDouble(PyList_GetItem(quotes, i));
            if (tenor == nullptr || PyErr_Occurred() != nullptr) {
                throw PythonError();
            }
            instruments.generators.emplace_back(generator);
            instruments.tenors.emplace_back(tenor);
            instruments.quotes.push_back(quote);
            instruments.inUse.push_back(true);
        }
        const YieldCurve curve("direct", pyDateToDate(valueDate), "", interpolation, instruments);
        PyRef dates = checked(PyList_New(0));
        PyRef rates = checked(PyList_New(0));
        for (std::size_t k = 0; k < curve.pillarDates().size(); ++k) {
            PyRef d = newPyDate(curve.pillarDates()[k]);
            PyRef r = checked(PyFloat_FromDouble(curve.pillarRates()[k]));
            if (!d || PyList_Append(dates.get(), d.get()) != 0 ||
                PyList_Append(rates.get(), r.get()) != 0) {
                throw PythonError();
            }
        }
        return checked(PyTuple_Pack(2, dates.get(), rates.get()));
    });
}

PyMethodDef testingMethods[] = {
    {"bootstrap_direct", bootstrapDirect, METH_VARARGS,
     "Pillar dates and rates of a curve built from C++ values, no dict conversion."},
    {"to_tree", toTree, METH_VARARGS, "pyObjectToPropertyTree, dumped as (data, children)."},
    {"to_python", toPython, METH_VARARGS, "treeToPyObject of a tree given as (data, children)."},
    {"json_to_tree", jsonToTree, METH_VARARGS, "pyJsonStringToTree, dumped as (data, children)."},
    {"raise_in_guard", raiseInGuard, METH_VARARGS, "Throws a C++ exception inside the guard."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef testingModule = {
    PyModuleDef_HEAD_INIT,
    "_tessarin_testing",
    nullptr,
    -1,
    testingMethods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

} // namespace

} // namespace tsr

PyMODINIT_FUNC PyInit__tessarin_testing() {
    return PyModule_Create(&tsr::testingModule);
}
