#pragma once

#include "core/object_tree.hpp"
#include "python/py_ref.hpp"

#include <memory>
#include <string>

namespace tsr {

// Python dict (nested dicts, lists and scalars) -> tree. Dict keys are read as
// '.'-separated paths; list items are keyed "0", "1", ... Errors name the
// offending item as "[" + path + "]" followed by a fixed text.
ObjectTree pyObjectToPropertyTree(PyObject* obj, const std::string& path);

// The BoxedValue of a Python scalar (None as empty text, bool, int, float, date, str), or null
// for anything else; throws when the value does not fit the library's types.
std::shared_ptr<const Object> scalarToBoxed(PyObject* value);

// Result tree -> new reference to Python dicts, lists and scalars.
PyObject* treeToPyObject(const ObjectTree& tree, const std::string& path);

// JSON text -> tree, read by Python's json module.
ObjectTree pyJsonStringToTree(const std::string& json, const std::string& path);

// repr() of a value for a message, cut by shownText; "<unknown>" when repr() fails (its
// error is dropped).
std::string reprOrUnknown(PyObject* value);

} // namespace tsr
