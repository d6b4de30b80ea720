#pragma once

#include "python/py_ref.hpp"

#include <memory>

namespace tsr {

class Book;

// The book of a _tessarin.Book object; null when `object` is not one. Throws when the
// book is not initialised.
std::shared_ptr<const Book> bookOf(PyObject* object);

// Readies _tessarin.Book and adds it to the module; -1 with a Python error set on failure.
int addBookType(PyObject* module);

} // namespace tsr
