#pragma once

#include "core/boxed_value.hpp"
#include "python/entry_guard.hpp"
#include "python/py_conversion.hpp"
#include "python/py_ref.hpp"

#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <typeinfo>
#include <utility>

// Reading Python input dicts into the library: values read as the library reads them, paths
// written as Python writes them, messages as the package shows them.

namespace tsr {

// Values named in a message are cut to about this many characters.
constexpr Py_ssize_t quotedLength = 80;

inline constexpr const char* rateHint = "rates are decimals: 0.033 for 3.3%";

// An input that cannot be used, at its key path; the package raises it as InputError.
struct InputProblem {
    std::string path;
    std::string message;
};

// Ends a strict read at its first doubt, which the package then raises.
struct StopAtDoubt {};

// Runs a read: the (path, message) of the problem it stops at, or None. A strict read stopped
// at a doubt also gives None, since the doubt is its answer.
template <class Read> PyRef problemOf(Read&& read) {
    try {
        std::forward<Read>(read)();
    } catch (const InputProblem& p) {
        return checked(Py_BuildValue("(ss)", p.path.c_str(), p.message.c_str()));
    } catch (const StopAtDoubt&) {
        // the doubt is the answer
    }
    return PyRef::borrow(Py_None);
}
// The interned str of a key name, kept for the process. Key names are literals or entries of
// constant tables: text that lives as long as the process.
PyObject* keyObject(const char* name);
// The value of `key` in a dict; null when it has none.
PyObject* lookup(PyObject* dict, const char* key);
void setKey(PyObject* dict, const char* key, const PyRef& value);
PyRef pyText(std::string_view text);
// The UTF-8 text of a str; none for one that has no UTF-8 form (lone surrogates).
std::optional<std::string> utf8Of(PyObject* text);
std::string utf8Or(PyObject* text, const char* fallback);
// repr() of a value, cut to about 80 characters.
std::string quoted(PyObject* value);
std::string quotedText(std::string_view text);
// A str as JSON writes it, in ASCII with escapes.
std::string jsonText(PyObject* text);
// A float as "{:g}" formats it.
std::string shortFloat(double value);
// A bad value as a message shows it: its JSON text cut to about 80 characters, or its kind.
std::string shown(PyObject* value);
// The path of a key inside `parent`: a.b, or a["in use"] for a key that is no name.
std::string keyPath(const std::string& parent, PyObject* key);
std::string keyPath(const std::string& parent, const char* key);
std::string itemPath(const std::string& parent, Py_ssize_t index);

// Where a value is read: a key of `parent`, or item `index` of the list at `parent`. The path
// is only written out for a message.
struct Where {
    const std::string& parent;
    const char* key = nullptr;
    Py_ssize_t index = -1;

    std::string path() const {
        return key != nullptr ? keyPath(parent, key) : itemPath(parent, index);
    }
};

[[noreturn]] void fail(std::string path, std::string message);
[[noreturn]] void expected(const Where& where, const char* what, PyObject* value);

// The library's message when `body` throws; none when it completes. A Python error or
// exhausted memory is no refusal of the input and goes on.
template <class F> std::optional<std::string> refusalOf(F&& body) {
    try {
        body();
        return std::nullopt;
    } catch (const PythonError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    }
}

// A scalar read as the library reads a value of type T; throws what the library throws.
template <class T> T readAs(PyObject* value) {
    const auto scalar = scalarToBoxed(value);
    if (!scalar) {
        throw std::bad_cast();
    }
    return static_cast<const BoxedValue&>(*scalar).get<T>();
}

// The value as the library reads an input of type T; "expected <what>" otherwise.
template <class T> T libraryValue(PyObject* value, const Where& where, const char* what) {
    T result{};
    if (refusalOf([&] { result = readAs<T>(value); })) {
        expected(where, what, value);
    }
    return result;
}

// Text as the library reads it: a str as it is, None as empty text.
PyRef textValue(PyObject* value, const Where& where, const char* what);
// A float, or an int within 64 bits, as a double.
bool plainNumber(PyObject* value, double& number);
// A finite number as the library reads it.
double numberValue(PyObject* value, const Where& where, const char* what);
bool boolValue(PyObject* value, const Where& where, const char* what);
bool isEmptyText(PyObject* value);
bool isKnown(PyObject* key, const char* const* first, const char* const* last);

// The doubts of one read, as (kind, path, value, known) tuples for the package, which raises
// them when strict, with suggestions for unknown keys, and warns otherwise. A strict read
// stops at the first.
class Doubts {
public:
    explicit Doubts(bool strict) : strict_(strict), list_(checked(PyList_New(0))) {}

    void add(const char* kind, const std::string& path, PyObject* value, PyObject* known);
    // One "key" doubt per key of `dict` outside the `count` names at `names`.
    void unknownKeys(PyObject* dict, const std::string& path, const char* const* names,
                     std::size_t count);
    PyRef& list() { return list_; }

private:
    bool strict_;
    PyRef list_;
};

} // namespace tsr
