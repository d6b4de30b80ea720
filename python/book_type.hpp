#pragma once

#include "python/py_ref.hpp"

#include <memory>

namespace tsr {

class Book;

// The book of a _tessarin.Book object; null when `object` is not one. Throws when the
// book is not initialised.
std::shared_ptr<const Book> bookOf(PyObject* object);

// A `threads` argument as a worker count: 1 when null (not given); TypeError for what is not
// a whole number, std::invalid_argument outside 1 to 4096.
unsigned threadCountOf(PyObject* value);

// Readies _tessarin.Book and adds it to the module; -1 with a Python error set on failure.
int addBookType(PyObject* module);

} // namespace tsr
