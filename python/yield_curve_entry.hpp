#pragma once

#include "python/py_ref.hpp"

// Entry functions behind _tessarin.YieldCurve. Called with the interpreter
// lock held. On failure the status is -1 and a Python exception is set.

// Builds and registers the curve of a curve dict; null on failure.
void* buildYieldCurve(PyObject* obj, int* status);

// Discount factor of the curve on a Gregorian date.
double yieldCurveDf(void* handle, int year, int month, int day, int* status);

// The pillar dates as a list of datetime.date, None for an unknown handle.
PyObject* yieldCurveDates(void* handle);

// The pillar zero rates as a list of float, None for an unknown handle.
PyObject* yieldCurveRates(void* handle);

void deleteYieldCurve(void* handle);
