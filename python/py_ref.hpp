#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace tsr {

// Owner of one strong reference to a Python object. The reference is taken
// explicitly (steal or borrow), lent with get() and handed over with release();
// there is no implicit conversion to PyObject*.
class PyRef {
public:
    PyRef() noexcept = default;

    // Takes over a new reference, such as the result of a C-API constructor.
    static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
    // Takes a reference of its own to a borrowed object.
    static PyRef borrow(PyObject* object) noexcept { return PyRef(Py_XNewRef(object)); }

    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : object_(other.release()) {}
    PyRef& operator=(PyRef&& other) noexcept {
        PyRef old(std::exchange(object_, other.release()));
        return *this;
    }
    ~PyRef() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    // Hands the reference to the caller; this owner is left empty.
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    void reset() noexcept { Py_CLEAR(object_); }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    explicit PyRef(PyObject* object) noexcept : object_(object) {}

    PyObject* object_ = nullptr;
};

} // namespace tsr
