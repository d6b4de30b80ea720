#pragma once

#include "python/entry_guard.hpp"
#include "python/py_ref.hpp"

#include <iterator>
#include <type_traits>

namespace tsr {

// A new list of convert(value) for each of `values`, in order. `convert` returns a new
// reference (PyObject*) or an owned PyRef, empty with a Python error set when it fails;
// PythonError is thrown then, and the list made so far is released.
template <class Values, class Convert> PyRef listOf(const Values& values, Convert&& convert) {
    PyRef list = checked(PyList_New(static_cast<Py_ssize_t>(std::size(values))));
    Py_ssize_t i = 0;
    for (const auto& value : values) {
        PyRef item;
        if constexpr (std::is_same_v<decltype(convert(value)), PyObject*>) {
            item = PyRef::steal(convert(value));
        } else {
            item = convert(value);
        }
        if (!item) {
            throw PythonError();
        }
        PyList_SET_ITEM(list.get(), i++, item.release());
    }
    return list;
}

} // namespace tsr
