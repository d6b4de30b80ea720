#pragma once

#include "core/date.hpp"
#include "python/py_ref.hpp"

namespace tsr {

// Access to the datetime C API from the capsule "datetime.datetime_CAPI". The
// capsule is imported on first use and again after a failed attempt.

// True when the C API is available; otherwise false with the import error set.
bool datetimeReady() noexcept;

// The datetime.date type (datetime.datetime derives from it); null with the
// import error set when the C API is unavailable.
PyTypeObject* pyDateType() noexcept;

// The single date argument of a method that takes one datetime.date (or datetime), borrowed
// from args; null with TypeError "parsing error. expecting date argument" for anything else,
// or with the import error set when the C API is unavailable.
PyObject* parseDateArgument(PyObject* args) noexcept;

// True for datetime.date, datetime.datetime and their subclasses. Requires
// datetimeReady().
bool isPyDate(PyObject* object) noexcept;

// Year, month and day of a datetime.date or datetime.datetime.
struct PyDateParts {
    int year;
    int month;
    int day;
};
PyDateParts pyDateParts(PyObject* object) noexcept;

// The library date of a datetime.date; the time of day of a datetime is
// dropped. Throws the date library's range errors.
date pyDateToDate(PyObject* object);

// A new datetime.date, made by the C API's constructor. Empty with a Python
// error set on failure.
PyRef newPyDate(const date& d);
PyRef newPyDate(int year, int month, int day);

} // namespace tsr
