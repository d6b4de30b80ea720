#include "python/py_conversion.hpp"

#include "core/boxed_value.hpp"
#include "core/shown_text.hpp"
#include "python/entry_guard.hpp"
#include "python/py_datetime.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>

namespace tsr {

namespace {

std::string tagged(const std::string& path, const char* suffix) {
    return "[" + path + suffix;
}

// Bounds the recursion into user data by the interpreter's own limit, so that
// deep nesting raises RecursionError instead of exhausting the C stack.
class RecursionGuard {
public:
    explicit RecursionGuard(const char* where) {
        if (Py_EnterRecursiveCall(where) != 0) {
            throw PythonError();
        }
    }
    ~RecursionGuard() { Py_LeaveRecursiveCall(); }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
};

// Drops the Python error of a failed value conversion, whose own message
// replaces it; an out-of-memory error is kept.
void dropConversionError() {
    if (PyErr_ExceptionMatches(PyExc_MemoryError) != 0) {
        throw PythonError();
    }
    PyErr_Clear();
}

// Appends `child` under `key` read as a '.'-separated path, the way add_child
// does: every fragment but the last goes down the first child of that name,
// created when absent. Empty fragments are plain empty keys.
void addAtPath(ObjectTree& tree, const std::string& key, ObjectTree& child) {
    ObjectTree* parent = &tree;
    std::string::size_type start = 0;
    for (auto dot = key.find('.'); dot != std::string::npos; dot = key.find('.', start)) {
        const std::string fragment = key.substr(start, dot - start);
        auto found = parent->find(fragment);
        parent = found == parent->not_found()
                     ? &parent->push_back(std::make_pair(fragment, ObjectTree()))->second
                     : &found->second;
        start = dot + 1;
    }
    // Swapped in rather than copied, so deep inputs cost linear time.
    parent->push_back(std::make_pair(key.substr(start), ObjectTree()))->second.swap(child);
}

} // namespace

std::shared_ptr<const Object> scalarToBoxed(PyObject* value) {
    const bool dates = datetimeReady();
    if (!dates) {
        PyErr_Clear(); // without datetime there are no dates to recognise
    }
    // Tables repeat these cells row after row; the values are immutable, so one of each
    // serves every tree.
    if (value == Py_None) {
        static const std::shared_ptr<const Object> none =
            std::make_shared<BoxedValue>(std::string());
        return none;
    }
    if (PyBool_Check(value)) {
        static const std::shared_ptr<const Object> yes = std::make_shared<BoxedValue>(true);
        static const std::shared_ptr<const Object> no = std::make_shared<BoxedValue>(false);
        return value == Py_True ? yes : no;
    }
    if (PyLong_Check(value)) {
        const long number = PyLong_AsLong(value);
        if (number == -1 && PyErr_Occurred() != nullptr) {
            const bool overflow = PyErr_ExceptionMatches(PyExc_OverflowError) != 0;
            dropConversionError();
            if (overflow) {
                throw std::overflow_error("Python int too large for long");
            }
            throw std::runtime_error("Failed to convert Python int");
        }
        return std::make_shared<BoxedValue>(number);
    }
    if (PyFloat_Check(value)) {
        const double number = PyFloat_AsDouble(value);
        if (number == -1.0 && PyErr_Occurred() != nullptr) {
            dropConversionError();
            throw std::runtime_error("Failed to convert Python float");
        }
        return std::make_shared<BoxedValue>(number);
    }
    if (dates && isPyDate(value)) {
        return std::make_shared<BoxedValue>(pyDateToDate(value));
    }
    if (PyUnicode_Check(value)) {
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(value, &size);
        if (text == nullptr) {
            dropConversionError();
            throw std::runtime_error("Failed to convert Python str to UTF-8");
        }
        return std::make_shared<BoxedValue>(std::string(text, static_cast<std::size_t>(size)));
    }
    return nullptr;
}

namespace {

ObjectTree dictToTree(PyObject* obj, const std::string& path);
ObjectTree listToTree(PyObject* obj, const std::string& path);

// A dict member or list item that is no scalar: nested dict, nested list. `path()` names it.
template <class Path> ObjectTree containerToTree(PyObject* value, Path&& path) {
    if (PyDict_Check(value)) {
        return dictToTree(value, path());
    }
    if (PyList_Check(value)) {
        return listToTree(value, path());
    }
    throw std::invalid_argument(tagged(path(), "] unsupported Python type: ") +
                                reprOrUnknown(value));
}

// Appends a dict member or list item under `key` in `parent`: a scalar as a leaf, a dict or
// list as a subtree. `leaf` is scratch space reused from one leaf to the next; `path()`
// names the item, and is only built for a subtree or an error.
template <class Path>
void addMember(ObjectTree& parent, std::pair<std::string, ObjectTree>& leaf, const std::string& key,
               PyObject* value, Path&& path) {
    if (auto scalar = scalarToBoxed(value)) {
        leaf.first = key;
        leaf.second.data() = std::move(scalar);
        parent.push_back(leaf);
        return;
    }
    ObjectTree child = containerToTree(value, path);
    // Swapped in rather than copied, so deep inputs cost linear time.
    parent.push_back(std::make_pair(key, ObjectTree()))->second.swap(child);
}

ObjectTree dictToTree(PyObject* obj, const std::string& path) {
    if (!PyDict_Check(obj)) {
        throw std::invalid_argument(tagged(path, "] expected a Python dict"));
    }
    RecursionGuard guard(" while converting a Python dict");
    ObjectTree result;
    std::pair<std::string, ObjectTree> leaf;
    Py_ssize_t position = 0;
    PyObject* borrowedKey = nullptr;
    PyObject* borrowedValue = nullptr;
    while (PyDict_Next(obj, &position, &borrowedKey, &borrowedValue) != 0) {
        // Own both for the step: repr() of a bad value may run Python code.
        const PyRef key = PyRef::borrow(borrowedKey);
        const PyRef value = PyRef::borrow(borrowedValue);
        if (!PyUnicode_Check(key.get())) {
            throw std::invalid_argument(tagged(path, "] dict keys must be strings"));
        }
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(key.get(), &size);
        if (text == nullptr) {
            dropConversionError();
            throw std::runtime_error(tagged(path, "] failed to decode dict key as UTF-8"));
        }
        const std::string name(text, static_cast<std::size_t>(size));
        const auto childPath = [&] { return path + "." + name; };
        if (name.find('.') == std::string::npos) {
            addMember(result, leaf, name, value.get(), childPath);
            continue;
        }
        ObjectTree child;
        if (auto scalar = scalarToBoxed(value.get())) {
            child = ObjectTree(std::move(scalar));
        } else {
            child = containerToTree(value.get(), childPath);
        }
        addAtPath(result, name, child);
    }
    return result;
}

ObjectTree listToTree(PyObject* obj, const std::string& path) {
    if (!PyList_Check(obj)) {
        throw std::invalid_argument(tagged(path, "] expected a Python list"));
    }
    RecursionGuard guard(" while converting a Python list");
    ObjectTree result;
    std::pair<std::string, ObjectTree> leaf;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(obj); ++i) {
        const PyRef item = PyRef::borrow(PyList_GET_ITEM(obj, i));
        const std::string key = std::to_string(i);
        addMember(result, leaf, key, item.get(), [&] { return path + "[" + key + "]"; });
    }
    return result;
}

PyRef pyText(const char* text) {
    return PyRef::steal(PyUnicode_FromString(text));
}

PyRef boxedToPy(const BoxedValue& boxed) {
    const auto& value = boxed.value();
    switch (boxed.index()) {
    case 0:
        return PyRef::steal(PyBool_FromLong(std::get<0>(value) ? 1 : 0));
    case 3:
        return PyRef::steal(PyLong_FromLong(static_cast<long>(std::get<3>(value))));
    case 4:
        return PyRef::steal(PyLong_FromLong(static_cast<std::int32_t>(std::get<4>(value))));
    case 6:
        return PyRef::steal(PyLong_FromLong(std::get<6>(value)));
    case 10:
        return PyRef::steal(PyFloat_FromDouble(std::get<10>(value)));
    case 12:
        return PyRef::steal(PyLong_FromLong(std::get<12>(value)));
    case 17:
        return pyText(std::get<17>(value).c_str()); // up to the first NUL
    case 18:
        return newPyDate(std::get<18>(value));
    default:
        return pyText("ERROR");
    }
}

// The Python value of a node's data. Conversion failures of the library come
// back as their text rather than as an error.
PyRef dataToPy(const std::shared_ptr<const Object>& data) {
    const auto* boxed = dynamic_cast<const BoxedValue*>(data.get());
    if (boxed == nullptr) {
        return pyText("ERROR");
    }
    if (!datetimeReady()) {
        PyErr_Clear();
        return pyText("Error, working with dates is not supported.");
    }
    try {
        return boxedToPy(*boxed);
    } catch (const std::runtime_error& e) {
        return pyText(e.what());
    }
}

PyRef nodeToPy(const ObjectTree& node, const std::string& path);

PyRef dictToPy(const ObjectTree& node, const std::string& path) {
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) {
        throw std::runtime_error(tagged(path, "] PyDict_New failed"));
    }
    for (const auto& [key, child] : node) {
        const std::string childPath = path + "." + key;
        const PyRef value = nodeToPy(child, childPath);
        if (!value) {
            throw std::runtime_error(tagged(childPath, "] failed to convert value"));
        }
        if (PyDict_SetItemString(dict.get(), key.c_str(), value.get()) < 0) {
            throw std::runtime_error(tagged(childPath, "] PyDict_SetItemString failed for key '") +
                                     key + "'");
        }
    }
    return dict;
}

PyRef listToPy(const ObjectTree& node, const std::string& path) {
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(node.size())));
    if (!list) {
        throw std::runtime_error(tagged(path, "] PyList_New failed"));
    }
    Py_ssize_t i = 0;
    for (const auto& entry : node) {
        const std::string childPath = path + "[" + std::to_string(i) + "]";
        PyRef item = nodeToPy(entry.second, childPath);
        if (!item) {
            throw std::runtime_error(tagged(childPath, "] failed to convert list item"));
        }
        PyList_SET_ITEM(list.get(), i++, item.release()); // the list takes the reference
    }
    return list;
}

PyRef nodeToPy(const ObjectTree& node, const std::string& path) {
    if (node.empty()) {
        return node.data() ? dataToPy(node.data()) : PyRef::borrow(Py_None);
    }
    RecursionGuard guard(" while converting a tree to Python");
    const bool keyed = std::any_of(node.begin(), node.end(),
                                   [](const auto& entry) { return !entry.first.empty(); });
    return keyed ? dictToPy(node, path) : listToPy(node, path);
}

} // namespace

ObjectTree pyObjectToPropertyTree(PyObject* obj, const std::string& path) {
    return dictToTree(obj, path);
}

PyObject* treeToPyObject(const ObjectTree& tree, const std::string& path) {
    return nodeToPy(tree, path).release();
}

ObjectTree pyJsonStringToTree(const std::string& json, const std::string& path) {
    const PyRef module = PyRef::steal(PyImport_ImportModule("json"));
    if (!module) {
        dropConversionError();
        throw std::runtime_error(tagged(path, "] failed to import Python json module"));
    }
    const PyRef loads = PyRef::steal(PyObject_GetAttrString(module.get(), "loads"));
    if (!loads) {
        dropConversionError();
        throw std::runtime_error(tagged(path, "] json.loads not found"));
    }
    const PyRef text = PyRef::steal(
        PyUnicode_FromStringAndSize(json.data(), static_cast<Py_ssize_t>(json.size())));
    const PyRef result =
        text ? PyRef::steal(PyObject_CallOneArg(loads.get(), text.get())) : PyRef();
    if (!result) {
        if (PyErr_ExceptionMatches(PyExc_Exception) == 0) {
            throw PythonError(); // KeyboardInterrupt and SystemExit are not ours to print
        }
        PyErr_Print(); // shows the parser's complaint and clears it
        throw std::runtime_error(tagged(path, "] json.loads failed"));
    }
    return pyObjectToPropertyTree(result.get(), path);
}

std::string reprOrUnknown(PyObject* value) {
    // A long text is cut before repr() copies it.
    PyRef cut;
    if (PyUnicode_Check(value) != 0 &&
        PyUnicode_GetLength(value) > static_cast<Py_ssize_t>(shownTextLength)) {
        cut = PyRef::steal(PyUnicode_Substring(value, 0, shownTextLength));
        if (!cut) {
            PyErr_Clear();
            return "<unknown>";
        }
    }
    PyRef repr = PyRef::steal(PyObject_Repr(cut ? cut.get() : value));
    if (repr) {
        Py_ssize_t size = 0;
        if (const char* text = PyUnicode_AsUTF8AndSize(repr.get(), &size)) {
            const std::string_view shown(text, static_cast<std::size_t>(size));
            // A cut text keeps its "..." even when its repr() is short.
            return cut ? shownText(shown.substr(0, shownTextLength - 3)) + "..." : shownText(shown);
        }
    }
    PyErr_Clear();
    return "<unknown>";
}

} // namespace tsr
