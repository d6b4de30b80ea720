#pragma once

#include "python/py_ref.hpp"

#include <stdexcept>
#include <utility>

namespace tsr {

// Thrown where a C-API call failed and left its own Python error set
// (RecursionError, MemoryError, ...); the guard lets that error stand.
class PythonError : public std::runtime_error {
public:
    PythonError() : std::runtime_error("Error, a Python call failed.") {}
};

// A new reference from a C-API call; throws PythonError for null.
inline PyRef checked(PyObject* object) {
    if (object == nullptr) {
        throw PythonError();
    }
    return PyRef::steal(object);
}

// list.append(item) for an item just made; throws PythonError when making it or appending it
// failed.
inline void append(PyObject* list, const PyRef& item) {
    if (!item || PyList_Append(list, item.get()) < 0) {
        throw PythonError();
    }
}

// dict[key] = value for a value just made; throws PythonError when making it or storing it
// failed.
inline void setItem(PyObject* dict, const char* key, const PyRef& value) {
    if (!value || PyDict_SetItemString(dict, key, value.get()) < 0) {
        throw PythonError();
    }
}

// Turns the exception in flight into a Python exception: RuntimeError with
// what() for a std::exception, "Unknown error." for anything else, MemoryError
// for std::bad_alloc. A Python error that is already set is kept. Call it only
// from inside a catch block.
void setPythonError() noexcept;

// The one handler of every entry function: runs `body` and reports whatever
// it throws through setPythonError. Returns true when the body completed.
template <class F> bool runGuarded(F&& body) noexcept {
    try {
        std::forward<F>(body)();
        return true;
    } catch (...) {
        setPythonError();
        return false;
    }
}

} // namespace tsr
