#include "python/swap_inputs.hpp"

#include "core/shown_text.hpp"
#include "python/py_conversion.hpp"
#include "python/py_datetime.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>

#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>

namespace tsr {

namespace {

// Copies the typed value of `key` from `from` into `to`, or records it missing.
template <class T>
void take(const ObjectTree& from, const std::string& key, ObjectTree& to, const std::string& toKey,
          std::string& missing, const std::string& absent) {
    if (const auto value = from.get_optional<T>(key)) {
        to.add(toKey, *value);
    } else {
        missing += absent;
    }
}

std::string legEntry(const std::string& legKey, const std::string& key) {
    return "<" + legKey + ": " + key + ">,";
}

void assembleLeg(const ObjectTree& leg, const std::string& legKey, SwapDescriptions& out) {
    ObjectTree generatorLeg;
    ObjectTree swapLeg;
    for (const char* key :
         {"currency", "calendar", "frequency", "day count convention", "accrual adjustment",
          "accrual calendar", "pay adjustment", "pay calendar"}) {
        take<std::string>(leg, key, generatorLeg, key, out.missing, legEntry(legKey, key));
    }
    // Flags are read from the node itself; a dict or list there holds no value.
    for (const char* key : {"is fixed", "is paid"}) {
        if (const auto node = leg.get_child_optional(key)) {
            generatorLeg.add(key, boxedValue(*node).get<bool>());
        } else {
            out.missing += legEntry(legKey, key);
        }
    }
    take<int>(leg, "pay lag", generatorLeg, "pay lag", out.missing, legEntry(legKey, "pay lag"));
    take<double>(leg, "notional", generatorLeg, "notional", out.missing,
                 legEntry(legKey, "notional"));

    if (const auto notional = generatorLeg.get_optional<double>("notional")) {
        swapLeg.add("notional", *notional);
    }
    if (const auto isFixed = generatorLeg.get_optional<bool>("is fixed")) {
        if (*isFixed) {
            take<double>(leg, "rate", swapLeg, "rate", out.missing, legEntry(legKey, "rate"));
        } else {
            take<std::string>(leg, "index", generatorLeg, "index", out.missing,
                              legEntry(legKey, "index"));
            take<double>(leg, "margin", swapLeg, "margin", out.missing, legEntry(legKey, "margin"));
        }
    }
    // Leg schedules always roll backward from the end date.
    generatorLeg.add("roll", std::string("backward"));
    out.generator.add_child(legKey, generatorLeg);
    out.swap.add_child(legKey, swapLeg);
}

date fixingDate(const ObjectTree& node) {
    const BoxedValue& value = boxedValue(node);
    return value.index() == 18 ? std::get<date>(value.value()) : value.get<date>();
}

// The fixings when they are in the form a checked fixings object has: str keys, each a dict
// whose "dates" are datetime.date objects and whose "values" finite floats, as many of each.
// They read directly, without the general conversion; anything else, errors included, takes
// the general path.
std::optional<FixingsMap> plainFixings(PyObject* fixings) {
    if (!PyDict_CheckExact(fixings) || !datetimeReady()) {
        PyErr_Clear();
        return std::nullopt;
    }
    FixingsMap result;
    Py_ssize_t position = 0;
    PyObject* name = nullptr;
    PyObject* entry = nullptr;
    while (PyDict_Next(fixings, &position, &name, &entry) != 0) {
        PyObject* dates = PyDict_CheckExact(entry) ? PyDict_GetItemString(entry, "dates") : nullptr;
        PyObject* values =
            PyDict_CheckExact(entry) ? PyDict_GetItemString(entry, "values") : nullptr;
        if (!PyUnicode_CheckExact(name) || dates == nullptr || values == nullptr ||
            !PyList_CheckExact(dates) || !PyList_CheckExact(values) ||
            PyList_GET_SIZE(dates) != PyList_GET_SIZE(values)) {
            return std::nullopt;
        }
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(name, &size);
        if (text == nullptr ||
            std::char_traits<char>::length(text) != static_cast<std::size_t>(size)) {
            PyErr_Clear(); // not UTF-8, or an embedded NUL: the general path says what it makes
            return std::nullopt;
        }
        auto& [days, fixes] = result[text];
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(dates); ++i) {
            PyObject* day = PyList_GET_ITEM(dates, i);
            PyObject* value = PyList_GET_ITEM(values, i);
            if (Py_TYPE(day) != pyDateType() || !PyFloat_CheckExact(value) ||
                !std::isfinite(PyFloat_AS_DOUBLE(value)) || pyDateParts(day).year < 1400) {
                return std::nullopt;
            }
            days.push_back(pyDateToDate(day));
            fixes.push_back(PyFloat_AS_DOUBLE(value));
        }
    }
    return result;
}

} // namespace

SwapDescriptions assembleSwapInputs(const ObjectTree& input) {
    SwapDescriptions out;
    if (const auto id = input.get_optional<std::string>("id")) {
        out.generator.add("id", *id);
        out.swap.add("id", *id);
    } else {
        out.missing += "<id>, ";
    }
    out.generator.add("start delay", 1);
    out.generator.add("calendar", std::string("US"));
    take<date>(input, "effective date", out.swap, "start date", out.missing, "<effective date>, ");
    take<date>(input, "termination date", out.swap, "end date", out.missing,
               "<termination date>, ");
    // Mandatory, but the schedule always rolls backward (see assembleLeg).
    take<std::string>(input, "schedule roll", out.swap, "roll", out.missing, "<schedule roll>,");
    for (const std::string legKey : {"leg1", "leg2"}) {
        if (const auto leg = input.get_child_optional(legKey)) {
            assembleLeg(*leg, legKey, out);
        } else {
            out.missing += "<'" + legKey + "',";
        }
    }
    return out;
}

FixingsMap transformFixings(PyObject* fixings) {
    if (std::optional<FixingsMap> plain = plainFixings(fixings)) {
        return std::move(*plain);
    }
    const ObjectTree tree = pyObjectToPropertyTree(fixings, "root");
    FixingsMap result;
    for (const auto& [index, entry] : tree) {
        std::vector<date> dates;
        for (const auto& item : entry.get_child("dates")) {
            dates.push_back(fixingDate(item.second));
        }
        std::vector<double> values;
        for (const auto& item : entry.get_child("values")) {
            values.push_back(boxedValue(item.second).get<double>());
        }
        // Fixings pair up by position, so the two lists must match.
        if (dates.size() != values.size()) {
            throw std::invalid_argument("Error, fixings for index " + shownText(index) + " have " +
                                        std::to_string(dates.size()) + " dates and " +
                                        std::to_string(values.size()) + " values.");
        }
        // A NaN or infinite fixing would only come back as a NaN price.
        for (std::size_t j = 0; j < values.size(); ++j) {
            if (!std::isfinite(values[j])) {
                throw std::invalid_argument(
                    "Error, the fixing of index " + shownText(index) + " on " +
                    boost::gregorian::to_iso_extended_string(dates[j]) + " is not finite: " +
                    (std::isnan(values[j]) ? "nan"
                     : values[j] > 0       ? "inf"
                                           : "-inf"));
            }
        }
        result[index] = {std::move(dates), std::move(values)};
    }
    return result;
}

} // namespace tsr
