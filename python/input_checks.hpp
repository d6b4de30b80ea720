#pragma once

#include "conventions/generator_swap.hpp"
#include "python/py_ref.hpp"

namespace tsr {

// Module functions that list the registered conventions, check one input as the library reads
// it, and register holiday calendars; a table ending in a sentinel.
PyMethodDef* inputCheckFunctions();

// The keys of a swap dict's leg that a generator's leg fixes, as the listing shows them.
PyRef legConventions(const GeneratorSwap::SwapLeg& leg);

} // namespace tsr
