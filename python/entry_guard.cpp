#include "python/entry_guard.hpp"

#include <exception>
#include <new>

namespace tsr {

namespace {

void raiseRuntimeError(const char* text) noexcept {
    if (PyErr_Occurred() == nullptr) {
        PyErr_SetString(PyExc_RuntimeError, text);
    }
}

} // namespace

void setPythonError() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        if (PyErr_Occurred() == nullptr) {
            PyErr_NoMemory();
        }
    } catch (const std::exception& e) {
        raiseRuntimeError(e.what());
    } catch (...) {
        raiseRuntimeError("Unknown error.");
    }
}

} // namespace tsr
