#include "python/py_datetime.hpp"

#include <datetime.h>

namespace tsr {

bool datetimeReady() noexcept {
    if (PyDateTimeAPI == nullptr) {
        PyDateTime_IMPORT;
    }
    return PyDateTimeAPI != nullptr;
}

PyTypeObject* pyDateType() noexcept {
    return datetimeReady() ? PyDateTimeAPI->DateType : nullptr;
}

PyObject* parseDateArgument(PyObject* args) noexcept {
    PyTypeObject* dateType = pyDateType();
    if (dateType == nullptr) {
        return nullptr;
    }
    PyObject* when = nullptr;
    if (PyArg_ParseTuple(args, "O!", dateType, &when) == 0) {
        PyErr_SetString(PyExc_TypeError, "parsing error. expecting date argument");
        return nullptr;
    }
    return when;
}

bool isPyDate(PyObject* object) noexcept {
    return PyDate_Check(object);
}

PyDateParts pyDateParts(PyObject* object) noexcept {
    return {PyDateTime_GET_YEAR(object), PyDateTime_GET_MONTH(object), PyDateTime_GET_DAY(object)};
}

date pyDateToDate(PyObject* object) {
    const PyDateParts parts = pyDateParts(object);
    return date(parts.year, parts.month, parts.day);
}

PyRef newPyDate(const date& d) {
    const auto ymd = d.year_month_day();
    if (!datetimeReady()) {
        return PyRef();
    }
    return PyRef::steal(PyDate_FromDate(ymd.year, ymd.month, ymd.day));
}

PyRef newPyDate(int year, int month, int day) {
    if (!datetimeReady()) {
        return PyRef();
    }
    return PyRef::steal(PyDate_FromDate(year, month, day));
}

} // namespace tsr
