#pragma once

#include "python/py_ref.hpp"

namespace tsr {

// Readies _tessarin.Book and adds it to the module; -1 with a Python error set on failure.
int addBookType(PyObject* module);

} // namespace tsr
