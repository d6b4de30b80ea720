#pragma once

#include "python/py_ref.hpp"

namespace tsr {

// Module functions that ask the calendar repository (holidays between two dates, business
// days), add generated holiday lists with their coverage, and carry the calendars a process
// has changed to another process; a table ending in a sentinel.
PyMethodDef* calendarFunctions();

} // namespace tsr
