#include "python/input_checks.hpp"

#include "conventions/generator.hpp"
#include "conventions/generator_future.hpp"
#include "conventions/generator_repository.hpp"
#include "conventions/generator_swap.hpp"
#include "conventions/index_repository.hpp"
#include "conventions/ois_index.hpp"
#include "core/shown_text.hpp"
#include "curves/yield_curve.hpp"
#include "dates/calendar_repository.hpp"
#include "dates/single_calendar.hpp"
#include "dates/tenor.hpp"
#include "python/book_type.hpp"
#include "python/entry_guard.hpp"
#include "python/input_reading.hpp"
#include "python/py_conversion.hpp"
#include "python/py_datetime.hpp"
#include "python/python_types.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tsr {

namespace {

// A Python dict built key by key; every C-API failure throws PythonError.
class DictBuilder {
public:
    DictBuilder() : dict_(checked(PyDict_New())) {}

    DictBuilder& set(const char* key, const PyRef& value) {
        setItem(dict_.get(), key, value);
        return *this;
    }

    PyRef release() { return std::move(dict_); }

private:
    PyRef dict_;
};

PyRef integer(long value) {
    return PyRef::steal(PyLong_FromLong(value));
}

PyRef flag(bool value) {
    return PyRef::borrow(value ? Py_True : Py_False);
}

PyRef generatorListing() {
    PyRef list = checked(PyList_New(0));
    const auto& repository = GeneratorRepository::instance();
    for (const std::string& label : sortedLabels(repository)) {
        const auto generator = repository.get<Generator>(label);
        const auto* swap = dynamic_cast<const GeneratorSwap*>(generator.get());
        DictBuilder entry;
        entry.set("name", pyText(label));
        if (const auto* future = dynamic_cast<const GeneratorFuture*>(generator.get())) {
            const auto index = IndexRepository::instance().get<OisIndex>(future->index());
            entry.set("type", pyText("future"))
                .set("index", pyText(future->index()))
                .set("currency", pyText(index->currency()))
                .set("months", integer(future->months()))
                .set("averaging",
                     pyText(future->averaging() == FutureAveraging::Compounded ? "Compounded"
                                                                               : "Arithmetic"));
        }
        if (swap != nullptr) {
            entry.set("start delay", integer(swap->startDelay()))
                .set("calendar", pyText(swap->calendar()));
            for (std::size_t k = 0; k < swap->legs().size(); ++k) {
                const auto& leg = swap->legs()[k];
                entry.set(k == 0 ? "leg1" : "leg2",
                          leg ? legConventions(*leg) : PyRef::borrow(Py_None));
            }
        }
        append(list.get(), entry.release());
    }
    return list;
}

PyRef indexListing() {
    PyRef list = checked(PyList_New(0));
    const auto& repository = IndexRepository::instance();
    for (const std::string& label : sortedLabels(repository)) {
        const auto index = repository.get<Index>(label);
        DictBuilder entry;
        entry.set("name", pyText(label));
        if (const auto* ois = dynamic_cast<const OisIndex*>(index.get())) {
            entry.set("currency", pyText(ois->currency()))
                .set("calendar", pyText(ois->calendar()))
                .set("day count", pyText(ois->dayCount()));
        }
        append(list.get(), entry.release());
    }
    return list;
}

PyRef calendarListing() {
    PyRef list = checked(PyList_New(0));
    for (const auto& calendar : CalendarRepository::instance().all()) {
        DictBuilder entry;
        entry.set("name", pyText(calendar->name()));
        const auto* single = dynamic_cast<const SingleCalendar*>(calendar.get());
        const bool listed = single != nullptr && !single->holidays().empty();
        entry.set("first year",
                  listed ? integer(single->holidays().front().year()) : PyRef::borrow(Py_None));
        // Generated years may end without a holiday in the last one.
        entry.set("last year", listed ? integer(std::max<long>(single->holidays().back().year(),
                                                               single->lastCoveredYear()))
                                      : PyRef::borrow(Py_None));
        PyRef coverage = checked(PyList_New(0));
        if (single != nullptr) {
            for (const HolidaySpan& span : single->coverage()) {
                DictBuilder part;
                part.set("first year", integer(span.firstYear))
                    .set("last year", integer(span.lastYear))
                    .set("source", pyText(holidaySourceName(span.source)));
                append(coverage.get(), part.release());
            }
        }
        entry.set("coverage", std::move(coverage));
        PyRef weekend = checked(PyList_New(0));
        if (single != nullptr) {
            for (int day = 0; day < 7; ++day) {
                if (single->weekend().contains(day)) {
                    append(weekend.get(), integer(day));
                }
            }
        }
        entry.set("weekend", std::move(weekend));
        append(list.get(), entry.release());
    }
    return list;
}

PyObject* conventions(PyObject* /*module*/, PyObject* /*unused*/) {
    PyObject* result = nullptr;
    runGuarded([&] {
        PyRef interpolations = checked(PyList_New(0));
        for (const std::string_view name : interpolationNameList()) {
            append(interpolations.get(), pyText(name));
        }
        DictBuilder out;
        out.set("generators", generatorListing())
            .set("indices", indexListing())
            .set("calendars", calendarListing())
            .set("interpolations", std::move(interpolations));
        result = out.release().release();
    });
    return result;
}

// The value the library reads from `value` as input of `kind`, converted to Python; throws the
// library's error otherwise. The value goes through the same tree conversion and typed reads as
// a swap or curve dict.
PyRef checkValue(const std::string& kind, PyObject* value) {
    if (kind == "threads") {
        return integer(static_cast<long>(threadCountOf(value)));
    }
    PyRef holder = checked(PyDict_New());
    setItem(holder.get(), "value", PyRef::borrow(value));
    const ObjectTree tree = pyObjectToPropertyTree(holder.get(), "root");
    if (kind == "pay lag") {
        return integer(checkedLagDays(tree.get<int>("value"), kind));
    }
    if (kind == "tenor") {
        return pyText(Tenor(tree.get<std::string>("value")).toString());
    }
    throw std::invalid_argument("Error, unknown input kind: " + shownText(kind));
}

PyObject* checkInput(PyObject* /*module*/, PyObject* args) {
    const char* kind = nullptr;
    PyObject* value = nullptr;
    if (PyArg_ParseTuple(args, "sO", &kind, &value) == 0) {
        return nullptr;
    }
    PyObject* result = nullptr;
    runGuarded([&] { result = checkValue(kind, value).release(); });
    return result;
}

std::vector<date> datesOf(PyObject* sequence) {
    PyRef items = checked(PySequence_Fast(sequence, "holidays must be a list of dates"));
    std::vector<date> dates;
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
    dates.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
        if (!datetimeReady()) {
            throw PythonError();
        }
        if (!isPyDate(item)) {
            throw std::invalid_argument("Error, holiday " + std::to_string(i) + " is not a date.");
        }
        dates.push_back(pyDateToDate(item));
    }
    return dates;
}

WeekdaySet weekendOf(PyObject* sequence) {
    PyRef items = checked(PySequence_Fast(sequence, "weekend must be a list of days"));
    WeekdaySet weekend;
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
        int overflow = 0;
        const long day =
            PyLong_AsLongAndOverflow(PySequence_Fast_GET_ITEM(items.get(), i), &overflow);
        if (day == -1 && PyErr_Occurred() != nullptr) {
            throw PythonError();
        }
        if (overflow != 0 || day < 0 || day > 6) {
            throw std::invalid_argument("Error, a weekend day is 0 (Sunday) to 6 (Saturday).");
        }
        weekend.flags[static_cast<std::size_t>(day)] = 1;
    }
    return weekend;
}

PyObject* registerCalendar(PyObject* /*module*/, PyObject* args, PyObject* kwds) {
    const char* keywords[] = {"name", "holidays", "weekend", "extend", nullptr};
    const char* name = nullptr;
    PyObject* holidays = nullptr;
    PyObject* weekend = Py_None;
    int extend = 0;
    if (PyArg_ParseTupleAndKeywords(args, kwds, "sO|Op", const_cast<char**>(keywords), &name,
                                    &holidays, &weekend, &extend) == 0) {
        return nullptr;
    }
    const bool done = runGuarded([&] {
        const std::string label(name);
        // A name with a comma or outer blanks could never be looked up on its own.
        if (label.empty() || label.find(',') != std::string::npos ||
            label.find_first_of(" \t") == 0 || label.find_last_of(" \t") == label.size() - 1) {
            throw std::invalid_argument("Error, invalid calendar name: " + shownText(label));
        }
        const std::vector<date> dates = datesOf(holidays);
        auto& repository = CalendarRepository::instance();
        std::shared_ptr<const SingleCalendar> base;
        if (extend != 0) {
            base = std::dynamic_pointer_cast<const SingleCalendar>(repository.getSingle(label));
            if (!base) {
                throw std::invalid_argument("Error, calendar " + shownText(label) +
                                            " has no holiday list to extend.");
            }
        }
        const WeekdaySet days = weekend != Py_None ? weekendOf(weekend)
                                : base             ? base->weekend()
                                                   : saturdaySundayWeekend;
        repository.replace(
            base ? base->extended(dates, days)
                 : std::make_shared<SingleCalendar>(label, days, dates, std::vector<date>{}));
    });
    return done ? Py_NewRef(Py_None) : nullptr;
}

PyMethodDef inputCheckMethods[] = {
    {"conventions", conventions, METH_NOARGS,
     "conventions() -> dict\n\nThe registered generators (with both legs' conventions), "
     "indices, calendars (with the first and last year of their holiday lists and their "
     "weekend days, 0 = Sunday) and curve interpolations."},
    {"check_input", checkInput, METH_VARARGS,
     "check_input(kind, value) -> value\n\nThe value as the library reads an input of this "
     "kind (pay lag, threads, tenor); RuntimeError with the library's message otherwise "
     "(\"threads\": 1 to 4096; \"pay lag\": at most 30 business days)."},
    {"register_calendar", methodFunction(registerCalendar), METH_VARARGS | METH_KEYWORDS,
     "register_calendar(name, holidays, weekend=None, extend=False)\n\nRegisters a holiday "
     "calendar for the process, in place of any calendar of that name. With extend, the "
     "holidays are added to the registered calendar's list."},
    {nullptr, nullptr, 0, nullptr},
};

} // namespace

PyRef legConventions(const GeneratorSwap::SwapLeg& leg) {
    DictBuilder out;
    out.set("currency", pyText(leg.currency()))
        .set("is fixed", flag(leg.isFixed()))
        .set("is paid", flag(leg.isPaid()))
        .set("calendar", pyText(leg.calendar()))
        .set("frequency", pyText(leg.frequency()))
        .set("day count convention", pyText(leg.dayCountConvention()))
        .set("accrual adjustment", pyText(leg.accrualAdjustment()))
        .set("accrual calendar", pyText(leg.accrualCalendar()))
        .set("pay adjustment", pyText(leg.payAdjustment()))
        .set("pay calendar", pyText(leg.payCalendar()))
        .set("pay lag", integer(leg.payLag()));
    if (const auto* floating = dynamic_cast<const GeneratorSwap::SwapLegFloat*>(&leg)) {
        out.set("index", pyText(floating->index()));
    }
    return out.release();
}

PyMethodDef* inputCheckFunctions() {
    return inputCheckMethods;
}

} // namespace tsr
