#include "python/input_reading.hpp"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace tsr {

namespace {

// The first `length` characters of a str.
PyRef head(PyObject* text, Py_ssize_t length) {
    return checked(PyUnicode_Substring(text, 0, length));
}

std::string floatRepr(double value) {
    char* text = PyOS_double_to_string(value, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
    if (text == nullptr) {
        throw PythonError();
    }
    std::string result(text);
    PyMem_Free(text);
    return result;
}

bool isName(std::string_view key) {
    const auto letter = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    };
    return !key.empty() && letter(key[0]) && std::all_of(key.begin() + 1, key.end(), [&](char c) {
        return letter(c) || (c >= '0' && c <= '9');
    });
}

} // namespace

PyObject* keyObject(const char* name) {
    // By address: names live as long as the process. Equal names at two addresses share one
    // interned str.
    static auto* keys = new std::unordered_map<const char*, PyObject*>();
    const auto found = keys->find(name);
    if (found != keys->end()) {
        return found->second;
    }
    PyObject* key = checked(PyUnicode_FromString(name)).release();
    PyUnicode_InternInPlace(&key);
    keys->emplace(name, key);
    return key;
}

PyObject* lookup(PyObject* dict, const char* key) {
    PyObject* value = PyDict_GetItemWithError(dict, keyObject(key));
    if (value == nullptr && PyErr_Occurred() != nullptr) {
        throw PythonError();
    }
    return value;
}

void setKey(PyObject* dict, const char* key, const PyRef& value) {
    if (!value || PyDict_SetItem(dict, keyObject(key), value.get()) < 0) {
        throw PythonError();
    }
}

PyRef pyText(std::string_view text) {
    return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// The UTF-8 text of a str; none for one that has no UTF-8 form (lone surrogates).
std::optional<std::string> utf8Of(PyObject* text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) {
        if (PyErr_ExceptionMatches(PyExc_MemoryError) != 0) {
            throw PythonError();
        }
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string(data, static_cast<std::size_t>(size));
}

std::string utf8Or(PyObject* text, const char* fallback) {
    return utf8Of(text).value_or(fallback);
}

// repr() of a value, cut to about 80 characters.
std::string quoted(PyObject* value) {
    PyRef repr;
    if (PyUnicode_Check(value) != 0 && PyUnicode_GetLength(value) > quotedLength) {
        repr = checked(PyObject_Repr(head(value, quotedLength - 5).get()));
        return utf8Or(repr.get(), "<unknown>") + "...";
    }
    repr = PyRef::steal(PyObject_Repr(value));
    if (!repr) {
        if (PyErr_ExceptionMatches(PyExc_MemoryError) != 0) {
            throw PythonError();
        }
        PyErr_Clear();
        return "<unknown>";
    }
    if (PyUnicode_GetLength(repr.get()) > quotedLength) {
        return utf8Or(head(repr.get(), quotedLength - 3).get(), "<unknown>") + "...";
    }
    return utf8Or(repr.get(), "<unknown>");
}

std::string quotedText(std::string_view text) {
    return quoted(pyText(text).get());
}

// A str as JSON writes it, in ASCII with escapes.
std::string jsonText(PyObject* text) {
    std::string out = "\"";
    const Py_ssize_t n = PyUnicode_GetLength(text);
    const auto escape = [&out](unsigned code) {
        constexpr std::string_view digits = "0123456789abcdef";
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) {
            out += digits[(code >> shift) & 0xf];
        }
    };
    // Pairs of a character and the letter of its escape.
    constexpr std::string_view named = "\"\"\\\\\nn\rr\tt\bb\ff";
    for (Py_ssize_t i = 0; i < n; ++i) {
        const Py_UCS4 c = PyUnicode_READ_CHAR(text, i);
        const std::size_t found = c < 0x80 ? named.find(static_cast<char>(c)) : named.npos;
        if (found != named.npos && found % 2 == 0) {
            out += '\\';
            out += named[found + 1];
        } else if (c > 0xffff) {
            escape(0xd800 + ((c - 0x10000) >> 10));
            escape(0xdc00 + ((c - 0x10000) & 0x3ff));
        } else if (c < 0x20 || c > 0x7e) {
            escape(c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// A float as "{:g}" formats it.
std::string shortFloat(double value) {
    char* text = PyOS_double_to_string(value, 'g', 6, 0, nullptr);
    if (text == nullptr) {
        throw PythonError();
    }
    std::string result(text);
    PyMem_Free(text);
    return result;
}

// A bad value as a message shows it: its JSON text cut to about 80 characters, or its kind.
std::string shown(PyObject* value) {
    if (PyDict_Check(value) != 0) {
        return "an object";
    }
    if (PyList_Check(value) != 0 || PyTuple_Check(value) != 0) {
        return "a list";
    }
    if (value == Py_None) {
        return "null";
    }
    if (PyUnicode_Check(value) != 0) {
        const std::string text = jsonText(head(value, quotedLength).get());
        return text.size() <= static_cast<std::size_t>(quotedLength)
                   ? text
                   : text.substr(0, quotedLength - 3) + "...";
    }
    if (PyFloat_Check(value) != 0) {
        const double number = PyFloat_AS_DOUBLE(value);
        if (std::isnan(number)) {
            return "NaN";
        }
        if (std::isinf(number)) {
            return number > 0 ? "Infinity" : "-Infinity";
        }
        return floatRepr(number);
    }
    if (PyLong_Check(value) != 0) {
        return quoted(value);
    }
    const PyRef name =
        checked(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__name__"));
    return PyUnicode_Check(name.get()) != 0 ? utf8Or(name.get(), "object") : "object";
}

// The path of a key inside `parent`: a.b, or a["in use"] for a key that is no name.
std::string keyPath(const std::string& parent, PyObject* key) {
    if (PyUnicode_GetLength(key) > quotedLength) {
        return parent + "[" + jsonText(head(key, quotedLength - 5).get()) + "...]";
    }
    const std::optional<std::string> text = utf8Of(key);
    if (text && isName(*text)) {
        return parent.empty() ? *text : parent + "." + *text;
    }
    return parent + "[" + jsonText(key) + "]";
}

std::string keyPath(const std::string& parent, const char* key) {
    if (isName(key)) {
        return parent.empty() ? std::string(key) : parent + "." + key;
    }
    return parent + "[\"" + key + "\"]";
}

std::string itemPath(const std::string& parent, Py_ssize_t index) {
    return parent + "[" + std::to_string(index) + "]";
}

[[noreturn]] void fail(std::string path, std::string message) {
    throw InputProblem{std::move(path), std::move(message)};
}

[[noreturn]] void expected(const Where& where, const char* what, PyObject* value) {
    fail(where.path(), std::string("expected ") + what + ", got " + shown(value));
}

// Text as the library reads it: a str as it is, None as empty text.
PyRef textValue(PyObject* value, const Where& where, const char* what) {
    if (PyUnicode_Check(value) != 0) {
        return PyRef::borrow(value);
    }
    if (value == Py_None) {
        return pyText("");
    }
    expected(where, what, value);
}

bool plainNumber(PyObject* value, double& number) {
    if (PyFloat_CheckExact(value)) {
        number = PyFloat_AS_DOUBLE(value);
        return true;
    }
    if (PyLong_CheckExact(value)) {
        // The library holds whole numbers as 64-bit integers.
        int overflow = 0;
        const long long whole = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (whole == -1 && PyErr_Occurred() != nullptr) {
            throw PythonError();
        }
        number = static_cast<double>(whole);
        return overflow == 0;
    }
    return false;
}

double numberValue(PyObject* value, const Where& where, const char* what) {
    double number = 0.0;
    if (!plainNumber(value, number)) {
        number = libraryValue<double>(value, where, what);
    }
    if (!std::isfinite(number)) {
        fail(where.path(), "expected a finite number, got " + std::string(std::isnan(number) ? "nan"
                                                                          : number > 0       ? "inf"
                                                                                       : "-inf"));
    }
    return number;
}

bool boolValue(PyObject* value, const Where& where, const char* what) {
    if (PyBool_Check(value) != 0) {
        return value == Py_True;
    }
    return libraryValue<bool>(value, where, what);
}

bool isEmptyText(PyObject* value) {
    return PyUnicode_Check(value) != 0 && PyUnicode_GetLength(value) == 0;
}

bool isKnown(PyObject* key, const char* const* first, const char* const* last) {
    return PyUnicode_Check(key) != 0 && std::any_of(first, last, [&](const char* name) {
               return PyUnicode_CompareWithASCIIString(key, name) == 0;
           });
}

void Doubts::add(const char* kind, const std::string& path, PyObject* value, PyObject* known) {
    PyRef entry = checked(
        Py_BuildValue("(ssOO)", kind, path.c_str(), value, known != nullptr ? known : Py_None));
    append(list_.get(), entry);
    if (strict_) {
        throw StopAtDoubt{};
    }
}

void Doubts::unknownKeys(PyObject* dict, const std::string& path, const char* const* names,
                         std::size_t count) {
    // The names as a set, made once per list of names.
    static auto* sets = new std::unordered_map<std::string, PyObject*>();
    static std::string joined;
    joined.clear();
    for (std::size_t i = 0; i < count; ++i) {
        joined.append(names[i]).push_back('\0');
    }
    PyObject*& set = (*sets)[joined];
    if (set == nullptr) {
        PyRef made = checked(PySet_New(nullptr));
        for (std::size_t i = 0; i < count; ++i) {
            if (PySet_Add(made.get(), keyObject(names[i])) < 0) {
                throw PythonError();
            }
        }
        set = made.release();
    }
    const PyRef known = PyRef::borrow(set);
    // Keys are copied first: a message's repr() may run code that changes the dict.
    const PyRef keys = checked(PyDict_Keys(dict));
    for (Py_ssize_t k = 0; k < PyList_GET_SIZE(keys.get()); ++k) {
        PyObject* key = PyList_GET_ITEM(keys.get(), k);
        const int found = PyUnicode_Check(key) != 0 ? PySet_Contains(known.get(), key) : 0;
        if (found < 0) {
            throw PythonError();
        }
        if (found == 0) {
            PyRef listed = checked(PyTuple_New(static_cast<Py_ssize_t>(count)));
            for (std::size_t i = 0; i < count; ++i) {
                PyTuple_SET_ITEM(listed.get(), static_cast<Py_ssize_t>(i),
                                 pyText(names[i]).release());
            }
            add("key", path, key, listed.get());
        }
    }
}

} // namespace tsr
