#pragma once

#include "core/date.hpp"
#include "python/py_ref.hpp"

// Entry functions behind _tessarin.IRS. Called with the interpreter lock held.
// On failure the status is -1, a Python exception is set and the result null.

// Builds and registers the swap of a flat swap dict.
void* buildInterestRateSwap(PyObject* obj, int* status);

// {"Leg1 PV", "Leg2 PV", "NPV"} on the curve; fixings may be null.
PyObject* interestRateSwapPrice(void* swapHandle, void* curveHandle, PyObject* fixings,
                                int* status);

// Key-rate risk per curve instrument: {"Tenor", "Leg1", "Leg2", "Net"}.
PyObject* interestRateSwapRisk(void* swapHandle, void* curveHandle, PyObject* fixings, int* status);

// Priced cash-flow tables {"Leg1", "Leg2"}; a null curve handle means no curve.
PyObject* interestRateSwapCashFlows(void* swapHandle, void* curveHandle, PyObject* fixings,
                                    int* status);

// Index fixings needed up to a date: {index: [dates]}.
PyObject* interestRateSwapRequiredFixings(void* swapHandle, tsr::date asOf, int* status);

void deleteInterestRateSwap(void* handle);
