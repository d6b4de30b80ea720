#include "python/calendar_entry.hpp"

#include "dates/calendar_holidays.hpp"
#include "dates/calendar_repository.hpp"
#include "dates/holiday_calendars.hpp"
#include "dates/single_calendar.hpp"
#include "python/entry_guard.hpp"
#include "python/py_datetime.hpp"
#include "python/python_types.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tsr {

namespace {

void check(bool ok) {
    if (!ok) {
        throw PythonError();
    }
}

date dateArgument(PyObject* value, const char* what) {
    check(datetimeReady());
    if (!isPyDate(value)) {
        throw std::invalid_argument(std::string("Error, ") + what + " is not a date.");
    }
    return pyDateToDate(value);
}

// A list or tuple (subclasses included), read through the fast-sequence macros without
// calling any of its Python methods; anything else is refused with `what`.
PyRef sequence(PyObject* value, const char* what) {
    if (!PyList_Check(value) && !PyTuple_Check(value)) {
        throw std::invalid_argument(std::string("Error, ") + what + ".");
    }
    return PyRef::borrow(value);
}

// An int that fits in `int`; the library's message otherwise.
int integerItem(PyObject* item, const char* what) {
    if (!PyLong_Check(item)) {
        throw std::invalid_argument(std::string("Error, ") + what + " is not an integer.");
    }
    int overflow = 0;
    const long value = PyLong_AsLongAndOverflow(item, &overflow);
    if (value == -1 && PyErr_Occurred() != nullptr) {
        throw PythonError();
    }
    if (overflow != 0 || value < std::numeric_limits<int>::min() ||
        value > std::numeric_limits<int>::max()) {
        throw std::invalid_argument(std::string("Error, ") + what + " is out of range.");
    }
    return static_cast<int>(value);
}

// Text as UTF-8, embedded NULs kept; text that has no UTF-8 form is refused.
std::string textItem(PyObject* item, const char* what) {
    if (!PyUnicode_Check(item)) {
        throw std::invalid_argument(std::string("Error, ") + what + " is not text.");
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(item, &size);
    if (data == nullptr) {
        PyErr_Clear();
        throw std::invalid_argument(std::string("Error, ") + what + " is not valid text.");
    }
    return {data, static_cast<std::size_t>(size)};
}

// Dates travel between processes as the date library's day numbers, which round-trip exactly.
PyRef dayNumbers(const std::vector<date>& dates) {
    PyRef list = checked(PyList_New(static_cast<Py_ssize_t>(dates.size())));
    for (std::size_t i = 0; i < dates.size(); ++i) {
        PyObject* number = PyLong_FromUnsignedLong(dates[i].day_number());
        check(number != nullptr);
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), number);
    }
    return list;
}

std::vector<date> datesOfNumbers(PyObject* value) {
    const PyRef items = sequence(value, "expected a list of day numbers");
    const date epoch(1970, 1, 1);
    const auto epochNumber = static_cast<long>(epoch.day_number());
    const auto firstNumber = static_cast<long>(date(1400, 1, 1).day_number());
    const auto lastNumber = static_cast<long>(date(9999, 12, 31).day_number());
    std::vector<date> dates;
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
    dates.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        const long number = integerItem(PySequence_Fast_GET_ITEM(items.get(), i), "a day number");
        if (number < firstNumber || number > lastNumber) {
            throw std::invalid_argument("Error, a day number is out of range.");
        }
        dates.push_back(epoch + boost::gregorian::days(number - epochNumber));
    }
    return dates;
}

std::shared_ptr<const SingleCalendar> singleCalendar(const std::string& name) {
    auto calendar = std::dynamic_pointer_cast<const SingleCalendar>(
        CalendarRepository::instance().getSingle(name));
    if (!calendar) {
        throw std::invalid_argument("Error, calendar " + name + " has no holiday list to extend.");
    }
    return calendar;
}

HolidaySource sourceNamed(const std::string& name) {
    const auto source = parseHolidaySource(name);
    if (!source) {
        throw std::invalid_argument("Error, unknown holiday source: " + name);
    }
    return *source;
}

PyObject* calendarHolidays(PyObject* /*module*/, PyObject* args) {
    PyObject* name = nullptr;
    PyObject* start = nullptr;
    PyObject* end = nullptr;
    if (PyArg_ParseTuple(args, "OOO", &name, &start, &end) == 0) {
        return nullptr;
    }
    PyObject* result = nullptr;
    runGuarded([&] {
        const std::string names = textItem(name, "the calendar name");
        const date first = dateArgument(start, "start");
        const date last = dateArgument(end, "end");
        const auto calendar = CalendarRepository::current().get(names);
        const std::vector<date> dates = holidaysBetween(*calendar, first, last);
        PyRef list = checked(PyList_New(static_cast<Py_ssize_t>(dates.size())));
        for (std::size_t i = 0; i < dates.size(); ++i) {
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i),
                            checked(newPyDate(dates[i]).release()).release());
        }
        result = list.release();
    });
    return result;
}

PyObject* isBusinessDay(PyObject* /*module*/, PyObject* args) {
    PyObject* name = nullptr;
    PyObject* day = nullptr;
    if (PyArg_ParseTuple(args, "OO", &name, &day) == 0) {
        return nullptr;
    }
    PyObject* result = nullptr;
    runGuarded([&] {
        const std::string names = textItem(name, "the calendar name");
        const date d = dateArgument(day, "date");
        const bool open = CalendarRepository::current().get(names)->isBusinessDay(d);
        result = Py_NewRef(open ? Py_True : Py_False);
    });
    return result;
}

PyObject* extendCalendar(PyObject* /*module*/, PyObject* args) {
    PyObject* name = nullptr;
    PyObject* holidays = nullptr;
    PyObject* firstYear = nullptr;
    PyObject* lastYear = nullptr;
    PyObject* source = nullptr;
    if (PyArg_ParseTuple(args, "OOOOO", &name, &holidays, &firstYear, &lastYear, &source) == 0) {
        return nullptr;
    }
    const bool done = runGuarded([&] {
        const HolidaySpan span{integerItem(firstYear, "the first year"),
                               integerItem(lastYear, "the last year"),
                               sourceNamed(textItem(source, "the source"))};
        const PyRef items = sequence(holidays, "holidays must be a list of dates");
        std::vector<date> dates;
        const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
        dates.reserve(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            dates.push_back(dateArgument(PySequence_Fast_GET_ITEM(items.get(), i), "a holiday"));
        }
        const auto base = singleCalendar(textItem(name, "the calendar name"));
        CalendarRepository::instance().replace(base->extended(dates, base->weekend(), span));
    });
    return done ? Py_NewRef(Py_None) : nullptr;
}

bool onlyBuiltIn(const SingleCalendar& calendar) {
    const auto coverage = calendar.coverage();
    return !coverage.empty() && std::all_of(coverage.begin(), coverage.end(), [](const auto& s) {
        return s.source == HolidaySource::BuiltIn;
    });
}

// Every calendar that differs from the built-in ones: (name, weekend days, holidays, business
// days, coverage as (first year, last year, source)), dates as day numbers.
PyObject* calendarState(PyObject* /*module*/, PyObject* /*unused*/) {
    PyObject* result = nullptr;
    runGuarded([&] {
        PyRef state = checked(PyList_New(0));
        for (const auto& calendar : CalendarRepository::instance().all()) {
            const auto* single = dynamic_cast<const SingleCalendar*>(calendar.get());
            if (single == nullptr || onlyBuiltIn(*single)) {
                continue;
            }
            PyRef weekend = checked(PyList_New(0));
            for (int day = 0; day < 7; ++day) {
                if (single->weekend().contains(day)) {
                    check(PyList_Append(weekend.get(), checked(PyLong_FromLong(day)).get()) == 0);
                }
            }
            PyRef coverage = checked(PyList_New(0));
            for (const HolidaySpan& span : single->coverage()) {
                const std::string_view source = holidaySourceName(span.source);
                PyRef entry =
                    checked(Py_BuildValue("(iis#)", span.firstYear, span.lastYear, source.data(),
                                          static_cast<Py_ssize_t>(source.size())));
                check(PyList_Append(coverage.get(), entry.get()) == 0);
            }
            PyRef name = checked(PyUnicode_FromStringAndSize(
                single->name().data(), static_cast<Py_ssize_t>(single->name().size())));
            PyRef entry = checked(
                PyTuple_Pack(5, name.get(), weekend.get(), dayNumbers(single->holidays()).get(),
                             dayNumbers(single->businessDays()).get(), coverage.get()));
            check(PyList_Append(state.get(), entry.get()) == 0);
        }
        result = state.release();
    });
    return result;
}

std::shared_ptr<Calendar> restoredCalendar(PyObject* entry) {
    const PyRef fields = sequence(entry, "a calendar state is a tuple of five items");
    if (PySequence_Fast_GET_SIZE(fields.get()) != 5) {
        throw std::invalid_argument("Error, a calendar state has five items.");
    }
    PyObject* const* item = PySequence_Fast_ITEMS(fields.get());
    const std::string name = textItem(item[0], "the calendar name");
    WeekdaySet weekend;
    const PyRef days = sequence(item[1], "weekend must be a list of days");
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(days.get()); ++i) {
        const int day = integerItem(PySequence_Fast_GET_ITEM(days.get(), i), "a weekend day");
        if (day < 0 || day > 6) {
            throw std::invalid_argument("Error, a weekend day is 0 (Sunday) to 6 (Saturday).");
        }
        weekend.flags[static_cast<std::size_t>(day)] = 1;
    }
    std::vector<HolidaySpan> coverage;
    const PyRef spans = sequence(item[4], "coverage must be a list of spans");
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(spans.get()); ++i) {
        const PyRef span = sequence(PySequence_Fast_GET_ITEM(spans.get(), i),
                                    "a coverage span is (first year, last year, source)");
        if (PySequence_Fast_GET_SIZE(span.get()) != 3) {
            throw std::invalid_argument("Error, a coverage span has three items.");
        }
        PyObject* const* part = PySequence_Fast_ITEMS(span.get());
        coverage.push_back({integerItem(part[0], "a first year"),
                            integerItem(part[1], "a last year"),
                            sourceNamed(textItem(part[2], "a source"))});
    }
    return std::make_shared<SingleCalendar>(name, weekend, datesOfNumbers(item[2]),
                                            datesOfNumbers(item[3]), std::move(coverage));
}

// Registers the calendars of a state, each in place of the calendar of its name. A built-in
// calendar that the state leaves out, but this process has changed, gets its built-in list
// back, so that a long-lived worker mirrors each caller in turn.
PyObject* restoreCalendars(PyObject* /*module*/, PyObject* state) {
    const bool done = runGuarded([&] {
        const PyRef entries = sequence(state, "a calendar state is a list");
        std::vector<std::shared_ptr<Calendar>> calendars;
        std::set<std::string> named;
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(entries.get()); ++i) {
            calendars.push_back(restoredCalendar(PySequence_Fast_GET_ITEM(entries.get(), i)));
            named.insert(calendars.back()->name());
        }
        auto& repository = CalendarRepository::instance();
        CalendarRepository builtIn;
        registerHolidayCalendars(builtIn);
        for (const auto& original : builtIn.all()) {
            const auto current = std::dynamic_pointer_cast<const SingleCalendar>(
                repository.getSingle(original->name()));
            if (named.count(original->name()) == 0 && (!current || !onlyBuiltIn(*current))) {
                calendars.push_back(std::const_pointer_cast<Calendar>(original));
            }
        }
        for (auto& calendar : calendars) {
            repository.replace(std::move(calendar));
        }
    });
    return done ? Py_NewRef(Py_None) : nullptr;
}

PyMethodDef calendarMethods[] = {
    {"calendar_holidays", calendarHolidays, METH_VARARGS,
     "calendar_holidays(name, start, end) -> list[date]\n\nThe listed holidays of a calendar "
     "(or a union such as \"US,EN\") from start to end inclusive; weekends are not listed."},
    {"is_business_day", isBusinessDay, METH_VARARGS,
     "is_business_day(name, date) -> bool\n\nWhether the calendar (or union) opens on date."},
    {"extend_calendar", extendCalendar, METH_VARARGS,
     "extend_calendar(name, holidays, first_year, last_year, source)\n\nAdds holidays to a "
     "registered calendar's list, recording that they cover first_year to last_year and come "
     "from source (\"rules\" or \"user\")."},
    {"calendar_state", calendarState, METH_NOARGS,
     "calendar_state() -> list\n\nThe calendars that differ from the built-in ones, for "
     "restore_calendars in another process."},
    {"restore_calendars", restoreCalendars, METH_O,
     "restore_calendars(state)\n\nRegisters the calendars of a calendar_state()."},
    {nullptr, nullptr, 0, nullptr},
};

} // namespace

PyMethodDef* calendarFunctions() {
    return calendarMethods;
}

} // namespace tsr
