#pragma once

#include "core/date.hpp"
#include "python/py_ref.hpp"

namespace tsr {

class ProductInterestRateSwap;

// Module functions of _tessarin for curve and swap analytics: zero and forward rates, many
// discount factors in one call, par rate, annuity, DV01 and the required fixings as a list.
PyMethodDef* analyticsFunctions();

// {index: [datetime.date, ...]} of the fixing days each floating leg needs on `asOf`, None
// when no period is running; the days go straight into lists, with no tree node per date.
PyRef requiredFixingsObject(const ProductInterestRateSwap& swap, date asOf);

} // namespace tsr
