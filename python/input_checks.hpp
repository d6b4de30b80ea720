#pragma once

#include "python/py_ref.hpp"

namespace tsr {

// Module functions that list the registered conventions, check one input as the library reads
// it, and register holiday calendars; a table ending in a sentinel.
PyMethodDef* inputCheckFunctions();

} // namespace tsr
