#include "python/curve_description_entry.hpp"

#include "conventions/generator.hpp"
#include "conventions/generator_future.hpp"
#include "conventions/generator_repository.hpp"
#include "conventions/generator_swap.hpp"
#include "conventions/index_repository.hpp"
#include "conventions/ois_index.hpp"
#include "core/boxed_value.hpp"
#include "curves/curve_description.hpp"
#include "dates/tenor.hpp"
#include "python/entry_guard.hpp"
#include "python/handle_registry.hpp"
#include "python/py_conversion.hpp"
#include "python/py_datetime.hpp"
#include "python/python_types.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tsr {

namespace {

// Values named in a message are cut to about this many characters.
constexpr Py_ssize_t quotedLength = 80;

constexpr std::array<const char*, 8> curveKeys = {
    "id",         "currency",    "value date", "interpolation",
    "cubic from", "instruments", "turns",      "fixings"};
constexpr std::array<const char*, 3> turnKeys = {"start", "end", "spread"};
constexpr std::array<const char*, 2> fixingKeys = {"dates", "values"};
// The required columns, then the optional ones: the dates of dated swaps and the convexity
// of futures rows, in bp.
constexpr std::array<const char*, 7> columnKeys = {"generator", "tenor", "quote",    "in use",
                                                   "start",     "end",   "convexity"};
constexpr std::size_t requiredColumns = 4;
enum Column : std::uint8_t { Generators, Tenors, Quotes, InUse, Starts, Ends, Convexities };

const char* const tenorHint = "expected a whole number and a unit D, W, M or Y, e.g. 3M or 10Y";
const char* const percentHint = "quotes are in percent: 3.3 for 3.3%";
const char* const rateHint = "rates are decimals: 0.033 for 3.3%";

// An input that cannot be used, at its key path; the package raises it as InputError.
struct InputProblem {
    std::string path;
    std::string message;
};

// Ends a strict read at its first doubt, which the package then raises.
struct StopAtDoubt {};

PyRef checked(PyObject* object) {
    if (object == nullptr) {
        throw PythonError();
    }
    return PyRef::steal(object);
}

void setKey(PyObject* dict, const char* key, const PyRef& value) {
    if (!value || PyDict_SetItemString(dict, key, value.get()) < 0) {
        throw PythonError();
    }
}

PyRef pyText(std::string_view text) {
    return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// The UTF-8 text of a str; none for one that has no UTF-8 form (lone surrogates).
std::optional<std::string> utf8Of(PyObject* text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) {
        if (PyErr_ExceptionMatches(PyExc_MemoryError) != 0) {
            throw PythonError();
        }
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string(data, static_cast<std::size_t>(size));
}

std::string utf8Or(PyObject* text, const char* fallback) {
    return utf8Of(text).value_or(fallback);
}

// The first `length` characters of a str.
PyRef head(PyObject* text, Py_ssize_t length) {
    return checked(PyUnicode_Substring(text, 0, length));
}

// repr() of a value, cut to about 80 characters.
std::string quoted(PyObject* value) {
    PyRef repr;
    if (PyUnicode_Check(value) != 0 && PyUnicode_GetLength(value) > quotedLength) {
        repr = checked(PyObject_Repr(head(value, quotedLength - 5).get()));
        return utf8Or(repr.get(), "<unknown>") + "...";
    }
    repr = PyRef::steal(PyObject_Repr(value));
    if (!repr) {
        if (PyErr_ExceptionMatches(PyExc_MemoryError) != 0) {
            throw PythonError();
        }
        PyErr_Clear();
        return "<unknown>";
    }
    if (PyUnicode_GetLength(repr.get()) > quotedLength) {
        return utf8Or(head(repr.get(), quotedLength - 3).get(), "<unknown>") + "...";
    }
    return utf8Or(repr.get(), "<unknown>");
}

std::string quotedText(std::string_view text) {
    return quoted(pyText(text).get());
}

// A str as JSON writes it, in ASCII with escapes.
std::string jsonText(PyObject* text) {
    std::string out = "\"";
    const Py_ssize_t n = PyUnicode_GetLength(text);
    const auto escape = [&out](unsigned code) {
        constexpr std::string_view digits = "0123456789abcdef";
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) {
            out += digits[(code >> shift) & 0xf];
        }
    };
    // Pairs of a character and the letter of its escape.
    constexpr std::string_view named = "\"\"\\\\\nn\rr\tt\bb\ff";
    for (Py_ssize_t i = 0; i < n; ++i) {
        const Py_UCS4 c = PyUnicode_READ_CHAR(text, i);
        const std::size_t found = c < 0x80 ? named.find(static_cast<char>(c)) : named.npos;
        if (found != named.npos && found % 2 == 0) {
            out += '\\';
            out += named[found + 1];
        } else if (c > 0xffff) {
            escape(0xd800 + ((c - 0x10000) >> 10));
            escape(0xdc00 + ((c - 0x10000) & 0x3ff));
        } else if (c < 0x20 || c > 0x7e) {
            escape(c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string floatRepr(double value) {
    char* text = PyOS_double_to_string(value, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
    if (text == nullptr) {
        throw PythonError();
    }
    std::string result(text);
    PyMem_Free(text);
    return result;
}

// A float as "{:g}" formats it.
std::string shortFloat(double value) {
    char* text = PyOS_double_to_string(value, 'g', 6, 0, nullptr);
    if (text == nullptr) {
        throw PythonError();
    }
    std::string result(text);
    PyMem_Free(text);
    return result;
}

// A bad value as a message shows it: its JSON text cut to about 80 characters, or its kind.
std::string shown(PyObject* value) {
    if (PyDict_Check(value) != 0) {
        return "an object";
    }
    if (PyList_Check(value) != 0 || PyTuple_Check(value) != 0) {
        return "a list";
    }
    if (value == Py_None) {
        return "null";
    }
    if (PyUnicode_Check(value) != 0) {
        const std::string text = jsonText(head(value, quotedLength).get());
        return text.size() <= static_cast<std::size_t>(quotedLength)
                   ? text
                   : text.substr(0, quotedLength - 3) + "...";
    }
    if (PyFloat_Check(value) != 0) {
        const double number = PyFloat_AS_DOUBLE(value);
        if (std::isnan(number)) {
            return "NaN";
        }
        if (std::isinf(number)) {
            return number > 0 ? "Infinity" : "-Infinity";
        }
        return floatRepr(number);
    }
    if (PyLong_Check(value) != 0) {
        return quoted(value);
    }
    const PyRef name =
        checked(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__name__"));
    return PyUnicode_Check(name.get()) != 0 ? utf8Or(name.get(), "object") : "object";
}

bool isName(std::string_view key) {
    const auto letter = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    };
    return !key.empty() && letter(key[0]) && std::all_of(key.begin() + 1, key.end(), [&](char c) {
        return letter(c) || (c >= '0' && c <= '9');
    });
}

// The path of a key inside `parent`: a.b, or a["in use"] for a key that is no name.
std::string keyPath(const std::string& parent, PyObject* key) {
    if (PyUnicode_GetLength(key) > quotedLength) {
        return parent + "[" + jsonText(head(key, quotedLength - 5).get()) + "...]";
    }
    const std::optional<std::string> text = utf8Of(key);
    if (text && isName(*text)) {
        return parent.empty() ? *text : parent + "." + *text;
    }
    return parent + "[" + jsonText(key) + "]";
}

std::string keyPath(const std::string& parent, const char* key) {
    if (isName(key)) {
        return parent.empty() ? std::string(key) : parent + "." + key;
    }
    return parent + "[\"" + key + "\"]";
}

std::string itemPath(const std::string& parent, Py_ssize_t index) {
    return parent + "[" + std::to_string(index) + "]";
}

// Where a value is read: a key of `parent`, or item `index` of the list at `parent`. The path
// is only written out for a message.
struct Where {
    const std::string& parent;
    const char* key = nullptr;
    Py_ssize_t index = -1;

    std::string path() const {
        return key != nullptr ? keyPath(parent, key) : itemPath(parent, index);
    }
};

[[noreturn]] void fail(std::string path, std::string message) {
    throw InputProblem{std::move(path), std::move(message)};
}

[[noreturn]] void expected(const Where& where, const char* what, PyObject* value) {
    fail(where.path(), std::string("expected ") + what + ", got " + shown(value));
}

// The library's message when `body` throws; none when it completes. A Python error or
// exhausted memory is no refusal of the input and goes on.
template <class F> std::optional<std::string> refusalOf(F&& body) {
    try {
        body();
        return std::nullopt;
    } catch (const PythonError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    }
}

// A scalar read as the library reads a value of type T; throws what the library throws.
template <class T> T readAs(PyObject* value) {
    const auto scalar = scalarToBoxed(value);
    if (!scalar) {
        throw std::bad_cast();
    }
    return static_cast<const BoxedValue&>(*scalar).get<T>();
}

// The value as the library reads an input of type T; "expected <what>" otherwise.
template <class T> T libraryValue(PyObject* value, const Where& where, const char* what) {
    T result{};
    if (refusalOf([&] { result = readAs<T>(value); })) {
        expected(where, what, value);
    }
    return result;
}

// Text as the library reads it: a str as it is, None as empty text.
PyRef textValue(PyObject* value, const Where& where, const char* what) {
    if (PyUnicode_Check(value) != 0) {
        return PyRef::borrow(value);
    }
    if (value == Py_None) {
        return pyText("");
    }
    expected(where, what, value);
}

bool plainNumber(PyObject* value, double& number) {
    if (PyFloat_CheckExact(value)) {
        number = PyFloat_AS_DOUBLE(value);
        return true;
    }
    if (PyLong_CheckExact(value)) {
        // The library holds whole numbers as 64-bit integers.
        int overflow = 0;
        const long long whole = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (whole == -1 && PyErr_Occurred() != nullptr) {
            throw PythonError();
        }
        number = static_cast<double>(whole);
        return overflow == 0;
    }
    return false;
}

double numberValue(PyObject* value, const Where& where, const char* what) {
    double number = 0.0;
    if (!plainNumber(value, number)) {
        number = libraryValue<double>(value, where, what);
    }
    if (!std::isfinite(number)) {
        fail(where.path(), "expected a finite number, got " + std::string(std::isnan(number) ? "nan"
                                                                          : number > 0       ? "inf"
                                                                                       : "-inf"));
    }
    return number;
}

bool boolValue(PyObject* value, const Where& where, const char* what) {
    if (PyBool_Check(value) != 0) {
        return value == Py_True;
    }
    return libraryValue<bool>(value, where, what);
}

bool isEmptyText(PyObject* value) {
    return PyUnicode_Check(value) != 0 && PyUnicode_GetLength(value) == 0;
}

bool isKnown(PyObject* key, const char* const* first, const char* const* last) {
    return PyUnicode_Check(key) != 0 && std::any_of(first, last, [&](const char* name) {
               return PyUnicode_CompareWithASCIIString(key, name) == 0;
           });
}

const std::string& generatorNames() {
    static const std::string names = [] {
        std::vector<std::string> swaps;
        std::vector<std::string> futures;
        GeneratorRepository::instance().forEach([&](const std::string& label, const auto& g) {
            (std::dynamic_pointer_cast<const GeneratorFuture>(g) ? futures : swaps)
                .push_back(label);
        });
        std::sort(swaps.begin(), swaps.end());
        std::sort(futures.begin(), futures.end());
        std::string text;
        for (const auto* list : {&swaps, &futures}) {
            for (const std::string& label : *list) {
                text += (text.empty() ? "" : ", ") + label;
            }
        }
        return text;
    }();
    return names;
}

// The currency a generator's instruments are quoted in; empty when it fixes none.
std::string generatorCurrency(const Generator& generator) {
    if (const auto* future = dynamic_cast<const GeneratorFuture*>(&generator)) {
        return IndexRepository::instance().get<OisIndex>(future->index())->currency();
    }
    if (const auto* swap = dynamic_cast<const GeneratorSwap*>(&generator)) {
        return swap->legs()[0] ? swap->legs()[0]->currency() : std::string();
    }
    return {};
}

// Reads a curve dict, already a private copy of dicts and lists, into a CurveDescription. Values
// are written back as the library reads them (dates as datetime.date, numbers as float, labels of
// dated and futures rows), so that the dict describes the curve built from the description. Doubts
// are collected; a strict read stops at the first.
class CurveReader {
public:
    explicit CurveReader(bool strict) : strict_(strict), doubts_(checked(PyList_New(0))) {}

    CurveDescription read(PyObject* data, const std::string& path);

    PyRef& doubts() { return doubts_; }
    // Why a build of what was read must fail, as the library says it: a value the checks
    // pass but the library cannot hold (a date before 1400, text without UTF-8 form).
    const std::optional<std::string>& refusal() const { return refusal_; }

private:
    void doubt(const char* kind, const std::string& path, PyObject* value, PyObject* known);
    template <std::size_t N>
    void checkKeys(PyObject* dict, const std::string& path,
                   const std::array<const char*, N>& known);
    PyObject* member(PyObject* dict, const std::string& path, const char* key);
    PyObject* list(PyObject* dict, const std::string& path, const char* key);
    std::string text(PyObject* dict, const std::string& path, const char* key, const char* what);
    date dateValue(PyObject* value, const Where& where, const char* what, PyRef& kept);
    std::optional<date> cellDate(PyObject* cell);
    void refuse(std::string why) {
        if (!refusal_) {
            refusal_ = std::move(why);
        }
    }
    void cubicFrom(PyObject* data, const std::string& path, CurveDescription& description);
    void turns(PyObject* data, const std::string& path, CurveDescription& description);
    void fixings(PyObject* data, const std::string& path, CurveFixings& out);
    void instruments(PyObject* data, const std::string& path, CurveDescription& description);

    bool strict_;
    PyRef doubts_;
    std::optional<std::string> refusal_;
};

void CurveReader::doubt(const char* kind, const std::string& path, PyObject* value,
                        PyObject* known) {
    PyRef entry = checked(
        Py_BuildValue("(ssOO)", kind, path.c_str(), value, known != nullptr ? known : Py_None));
    if (PyList_Append(doubts_.get(), entry.get()) < 0) {
        throw PythonError();
    }
    if (strict_) {
        throw StopAtDoubt{};
    }
}

template <std::size_t N>
void CurveReader::checkKeys(PyObject* dict, const std::string& path,
                            const std::array<const char*, N>& known) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(dict, &position, &key, &value) != 0) {
        if (!isKnown(key, known.data(), known.data() + N)) {
            PyRef names = checked(PyTuple_New(N));
            for (std::size_t i = 0; i < N; ++i) {
                PyTuple_SET_ITEM(names.get(), static_cast<Py_ssize_t>(i),
                                 pyText(known[i]).release());
            }
            const PyRef owned = PyRef::borrow(key);
            doubt("key", path, owned.get(), names.get());
        }
    }
}

PyObject* CurveReader::member(PyObject* dict, const std::string& path, const char* key) {
    PyObject* value = PyDict_GetItemString(dict, key);
    if (value == nullptr) {
        fail(keyPath(path, key), "missing key");
    }
    return value;
}

PyObject* CurveReader::list(PyObject* dict, const std::string& path, const char* key) {
    PyObject* value = member(dict, path, key);
    if (PyList_Check(value) == 0) {
        expected(Where{path, key}, "a list", value);
    }
    return value;
}

std::string CurveReader::text(PyObject* dict, const std::string& path, const char* key,
                              const char* what) {
    const PyRef value = textValue(member(dict, path, key), Where{path, key}, what);
    setKey(dict, key, value);
    std::optional<std::string> result = utf8Of(value.get());
    if (!result) {
        refuse("Failed to convert Python str to UTF-8");
    }
    return result.value_or("");
}

// A date, or ISO text as the library reads it; `kept` is the datetime.date to write back.
date CurveReader::dateValue(PyObject* value, const Where& where, const char* what, PyRef& kept) {
    if (!datetimeReady()) {
        throw PythonError();
    }
    if (isPyDate(value)) {
        const PyDateParts parts = pyDateParts(value);
        kept = Py_IS_TYPE(value, pyDateType()) ? PyRef::borrow(value)
                                               : newPyDate(parts.year, parts.month, parts.day);
        if (!kept) {
            throw PythonError();
        }
        try {
            return {static_cast<unsigned short>(parts.year),
                    static_cast<unsigned short>(parts.month),
                    static_cast<unsigned short>(parts.day)};
        } catch (const std::out_of_range& e) {
            // A date the library cannot hold: the build says so.
            refuse(e.what());
            return {1400, 1, 1};
        }
    }
    const date result = libraryValue<date>(value, where, what);
    kept = newPyDate(result);
    if (!kept) {
        throw PythonError();
    }
    return result;
}

// A date cell the checks do not read, as the build reads it: empty text or None for none.
std::optional<date> CurveReader::cellDate(PyObject* cell) {
    if (cell == Py_None || isEmptyText(cell)) {
        return std::nullopt;
    }
    std::optional<date> result;
    if (auto why = refusalOf([&] { result = readAs<date>(cell); })) {
        refuse(std::move(*why));
    }
    return result;
}

void CurveReader::cubicFrom(PyObject* data, const std::string& path,
                            CurveDescription& description) {
    PyObject* value = PyDict_GetItemString(data, "cubic from");
    if (value == nullptr) {
        return;
    }
    const std::string where = keyPath(path, "cubic from");
    std::string name = description.interpolation.value_or("LinearLogDf");
    std::transform(name.begin(), name.end(), name.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    if (name != "logcubic" && name != "linearlogdf") {
        fail(where, "needs the \"LogCubic\" interpolation, not " + quotedText(name));
    }
    if (datetimeReady() && isPyDate(value)) {
        const PyRef iso = checked(PyObject_CallMethod(value, "isoformat", nullptr));
        setKey(data, "cubic from", iso);
        description.cubicFrom = utf8Or(iso.get(), "");
        return;
    }
    PyErr_Clear();
    const auto text = PyUnicode_Check(value) != 0 ? utf8Of(value) : std::nullopt;
    if (text &&
        (!refusalOf([&] { Tenor{*text}; }) || !refusalOf([&] { BoxedValue(*text).get<date>(); }))) {
        description.cubicFrom = *text;
        return;
    }
    fail(where, "expected a tenor or a date as YYYY-MM-DD, got " + shown(value));
}

void CurveReader::turns(PyObject* data, const std::string& path, CurveDescription& description) {
    if (PyDict_GetItemString(data, "turns") == nullptr) {
        return;
    }
    const PyRef turns = PyRef::borrow(list(data, path, "turns"));
    const std::string where = keyPath(path, "turns");
    const Py_ssize_t n = PyList_GET_SIZE(turns.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (PyDict_Check(PyList_GET_ITEM(turns.get(), i)) == 0) {
            expected(Where{where, nullptr, i}, "a turn object", PyList_GET_ITEM(turns.get(), i));
        }
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        const PyRef turn = PyRef::borrow(PyList_GET_ITEM(turns.get(), i));
        const std::string turnPath = itemPath(where, i);
        checkKeys(turn.get(), turnPath, turnKeys);
        CurveTurn read;
        for (const char* key : {"start", "end"}) {
            PyRef kept;
            const date day = dateValue(member(turn.get(), turnPath, key), Where{turnPath, key},
                                       "a date as YYYY-MM-DD", kept);
            setKey(turn.get(), key, kept);
            (key[0] == 's' ? read.start : read.end) = day;
        }
        read.spread = numberValue(member(turn.get(), turnPath, "spread"), Where{turnPath, "spread"},
                                  "a spread in bp");
        setKey(turn.get(), "spread", checked(PyFloat_FromDouble(read.spread)));
        description.instruments.turns.push_back(read);
    }
    // The library's word on the turns: a curve of no instruments with them.
    if (refusal_) {
        fail(where, *refusal_);
    }
    CurveDescription trial;
    trial.id = description.id;
    trial.currency = description.currency;
    trial.valueDate = description.valueDate;
    trial.instruments.turns = description.instruments.turns;
    if (auto why = refusalOf([&] { buildCurve(std::move(trial)); })) {
        fail(where, std::move(*why));
    }
}

void CurveReader::fixings(PyObject* data, const std::string& path, CurveFixings& out) {
    const PyRef fixings = PyRef::borrow(PyDict_GetItemString(data, "fixings"));
    if (!fixings) {
        return;
    }
    const std::string where = keyPath(path, "fixings");
    if (PyDict_Check(fixings.get()) == 0) {
        expected(Where{path, "fixings"}, "an object keyed by index name", fixings.get());
    }
    PyRef result = checked(PyDict_New());
    Py_ssize_t position = 0;
    PyObject* borrowedName = nullptr;
    PyObject* borrowedSeries = nullptr;
    while (PyDict_Next(fixings.get(), &position, &borrowedName, &borrowedSeries) != 0) {
        const PyRef name = PyRef::borrow(borrowedName);
        const PyRef series = PyRef::borrow(borrowedSeries);
        const PyRef nameText = checked(PyObject_Str(name.get()));
        const std::string seriesPath = keyPath(where, nameText.get());
        const std::optional<std::string> label =
            PyUnicode_Check(name.get()) != 0 ? utf8Of(name.get()) : std::nullopt;
        if (!label || !IndexRepository::instance().contains(*label)) {
            doubt("index", seriesPath, name.get(), nullptr);
        }
        if (PyDict_Check(series.get()) == 0) {
            fail(seriesPath,
                 "expected an object with \"dates\" and \"values\", got " + shown(series.get()));
        }
        checkKeys(series.get(), seriesPath, fixingKeys);
        const PyRef dates = PyRef::borrow(list(series.get(), seriesPath, "dates"));
        const PyRef values = PyRef::borrow(list(series.get(), seriesPath, "values"));
        const std::string datesPath = keyPath(seriesPath, "dates");
        const std::string valuesPath = keyPath(seriesPath, "values");
        auto& [days, rates] = out[label.value_or("")];
        days.clear();
        rates.clear();
        const Py_ssize_t dateCount = PyList_GET_SIZE(dates.get());
        PyRef dateList = checked(PyList_New(dateCount));
        for (Py_ssize_t i = 0; i < dateCount; ++i) {
            PyRef kept;
            days.push_back(dateValue(PyList_GET_ITEM(dates.get(), i), Where{datesPath, nullptr, i},
                                     "a date as YYYY-MM-DD", kept));
            PyList_SET_ITEM(dateList.get(), i, kept.release());
        }
        const Py_ssize_t valueCount = PyList_GET_SIZE(values.get());
        PyRef valueList = checked(PyList_New(valueCount));
        for (Py_ssize_t i = 0; i < valueCount; ++i) {
            rates.push_back(numberValue(PyList_GET_ITEM(values.get(), i),
                                        Where{valuesPath, nullptr, i}, "a decimal rate"));
            PyList_SET_ITEM(valueList.get(), i,
                            checked(PyFloat_FromDouble(rates.back())).release());
        }
        if (dateCount != valueCount) {
            fail(seriesPath, "\"dates\" has " + std::to_string(dateCount) +
                                 " entries, \"values\" " + std::to_string(valueCount));
        }
        for (Py_ssize_t i = 0; i < valueCount; ++i) {
            const double rate = rates[static_cast<std::size_t>(i)];
            if (std::abs(rate) > 1) {
                const PyRef message =
                    pyText(shortFloat(rate) + " is not a decimal rate; " + rateHint);
                doubt("doubt", itemPath(valuesPath, i), message.get(), nullptr);
            }
        }
        if (!label) {
            // The library keys fixings by index name, as text.
            refuse("[root.fixings] dict keys must be strings");
        }
        PyRef entry = checked(PyDict_New());
        setKey(entry.get(), "dates", dateList);
        setKey(entry.get(), "values", valueList);
        if (PyDict_SetItem(result.get(), name.get(), entry.get()) < 0) {
            throw PythonError();
        }
    }
    setKey(data, "fixings", result);
}

void CurveReader::instruments(PyObject* data, const std::string& path,
                              CurveDescription& description) {
    const std::string where = keyPath(path, "instruments");
    PyObject* table = member(data, path, "instruments");
    if (PyDict_Check(table) == 0) {
        expected(Where{path, "instruments"}, "an object with the instrument columns", table);
    }
    checkKeys(table, where, columnKeys);
    // Owned: a message's repr() may run code that drops them from the table.
    std::array<PyRef, columnKeys.size()> columns;
    std::array<std::string, columnKeys.size()> paths;
    for (std::size_t c = 0; c < columnKeys.size(); ++c) {
        paths[c] = keyPath(where, columnKeys[c]);
        if (c < requiredColumns || PyDict_GetItemString(table, columnKeys[c]) != nullptr) {
            columns[c] = PyRef::borrow(list(table, where, columnKeys[c]));
        }
    }
    const Py_ssize_t n = PyList_GET_SIZE(columns[Generators].get());
    bool same = true;
    std::string sizes;
    for (std::size_t c = 0; c < columnKeys.size(); ++c) {
        if (columns[c]) {
            same = same && PyList_GET_SIZE(columns[c].get()) == n;
            sizes += (sizes.empty() ? "" : ", ") + std::string(columnKeys[c]) + " " +
                     std::to_string(PyList_GET_SIZE(columns[c].get()));
        }
    }
    if (!same) {
        fail(where, "columns must have the same length (got " + sizes + ")");
    }
    // Cells are looked up afresh: code run by a message or a dropped value may shorten a column.
    const auto cell = [&](Column c, Py_ssize_t i) {
        if (PyList_GET_SIZE(columns[c].get()) <= i) {
            throw std::runtime_error("Error, the instrument columns changed while being read.");
        }
        return PyList_GET_ITEM(columns[c].get(), i);
    };
    const auto setCell = [&](Column c, Py_ssize_t i, PyRef value) {
        if (!value) {
            throw PythonError();
        }
        cell(c, i);
        if (PyList_SetItem(columns[c].get(), i, value.release()) < 0) { // takes the reference
            throw PythonError();
        }
    };

    YieldCurveInstruments& rows = description.instruments;
    const auto size = static_cast<std::size_t>(n);
    rows.generators.reserve(size);
    rows.tenors.reserve(size);
    rows.quotes.reserve(size);
    rows.inUse.reserve(size);
    if (columns[Starts]) {
        rows.starts.reserve(size);
    }
    if (columns[Ends]) {
        rows.ends.reserve(size);
    }
    if (columns[Convexities]) {
        rows.convexities.reserve(size);
    }
    auto& repository = GeneratorRepository::instance();
    std::vector<double> swapQuotes;
    for (Py_ssize_t i = 0; i < n; ++i) {
        const PyRef name = textValue(cell(Generators, i), Where{paths[Generators], nullptr, i},
                                     "a generator name");
        const std::optional<std::string> label = utf8Of(name.get());
        if (!label || !repository.contains(*label)) {
            fail(itemPath(paths[Generators], i),
                 "unknown generator " + quoted(name.get()) + " (known: " + generatorNames() + ")");
        }
        const auto generator = repository.get<Generator>(*label);
        const auto* future = dynamic_cast<const GeneratorFuture*>(generator.get());
        std::optional<date> start;
        std::optional<date> end;
        double convexity = 0.0;
        std::string tenor;
        if (future != nullptr) {
            // The contract month becomes the row's label, "1M FUT 2026-12".
            const PyRef month = textValue(cell(Tenors, i), Where{paths[Tenors], nullptr, i},
                                          "a contract month, YYYY-MM");
            const std::optional<std::string> monthText = utf8Of(month.get());
            if (!monthText) {
                fail(itemPath(paths[Tenors], i), "Failed to convert Python str to UTF-8");
            }
            if (auto why = refusalOf([&] {
                    tenor = futuresLabel(*future, futuresContractMonth(*future, *monthText));
                })) {
                fail(itemPath(paths[Tenors], i), std::move(*why));
            }
            setCell(Tenors, i, pyText(tenor));
            if (columns[Convexities] && cell(Convexities, i) != Py_None) {
                convexity = numberValue(cell(Convexities, i), Where{paths[Convexities], nullptr, i},
                                        "a convexity in bp");
                setCell(Convexities, i, checked(PyFloat_FromDouble(convexity)));
            }
            // Futures rows leave their date cells unread by the checks.
            if (columns[Starts]) {
                start = cellDate(cell(Starts, i));
            }
            if (columns[Ends]) {
                end = cellDate(cell(Ends, i));
            }
        } else {
            // A row with a start and an end is a swap between them, labelled START/END; its
            // tenor cell is not read. The date columns take None or empty text for none.
            std::array<PyRef, 3> dated;
            for (const Column c : {Starts, Ends, Convexities}) {
                PyObject* value = columns[c] ? cell(c, i) : nullptr;
                if (value == nullptr || value == Py_None || isEmptyText(value)) {
                    continue;
                }
                PyRef kept;
                const date day = dateValue(value, Where{paths[c], nullptr, i},
                                           "a date as YYYY-MM-DD or None", kept);
                dated[c - Starts] = PyRef::borrow(kept.get());
                setCell(c, i, std::move(kept));
                if (c == Starts) {
                    start = day;
                } else if (c == Ends) {
                    end = day;
                } else {
                    refuse("BoxedValue: cannot convert to double");
                }
            }
            if (dated[0].get() == nullptr && dated[1].get() != nullptr) {
                fail(itemPath(paths[Starts], i), "a dated swap needs both a start and an end");
            }
            if (dated[0].get() != nullptr && dated[1].get() == nullptr) {
                fail(itemPath(paths[Ends], i), "a dated swap needs both a start and an end");
            }
            if (dated[0]) {
                const int after = PyObject_RichCompareBool(dated[1].get(), dated[0].get(), Py_GT);
                if (after < 0) {
                    throw PythonError();
                }
                const std::string first = utf8Or(checked(PyObject_Str(dated[0].get())).get(), "");
                const std::string last = utf8Or(checked(PyObject_Str(dated[1].get())).get(), "");
                if (after == 0) {
                    fail(itemPath(paths[Ends], i),
                         "the swap must end after its start " + first + ", got " + last);
                }
                tenor = first + "/" + last;
                setCell(Tenors, i, pyText(tenor));
            } else {
                const PyRef text =
                    textValue(cell(Tenors, i), Where{paths[Tenors], nullptr, i}, "a tenor");
                const std::optional<std::string> tenorText = utf8Of(text.get());
                if (!tenorText || refusalOf([&] { Tenor{*tenorText}; })) {
                    fail(itemPath(paths[Tenors], i),
                         "invalid tenor " + quoted(text.get()) + " (" + tenorHint + ")");
                }
                tenor = *tenorText;
            }
        }
        const bool used =
            boolValue(cell(InUse, i), Where{paths[InUse], nullptr, i}, "true or false");
        setCell(InUse, i, PyRef::borrow(used ? Py_True : Py_False));
        double quote = 0.0;
        if (used || !plainNumber(cell(Quotes, i), quote)) {
            // Unused rows may carry anything the library reads as a number, even nan.
            quote = numberValue(cell(Quotes, i), Where{paths[Quotes], nullptr, i},
                                future != nullptr ? "a futures price" : "a quote in percent");
            setCell(Quotes, i, checked(PyFloat_FromDouble(quote)));
        }
        if (used && future != nullptr) {
            if (auto why = refusalOf([&] { requireFuturesPrice(quote, "a futures contract"); })) {
                fail(itemPath(paths[Quotes], i), std::move(*why));
            }
        }
        const std::string currency = generatorCurrency(*generator);
        if (!currency.empty() && currency != description.currency) {
            const PyRef message =
                pyText("generator " + quoted(name.get()) + " quotes " + currency +
                       " instruments, but the curve's currency is " + description.currency);
            doubt("doubt", itemPath(paths[Generators], i), message.get(), nullptr);
        }
        if (used && future == nullptr) {
            swapQuotes.push_back(quote);
        }
        rows.generators.push_back(*label);
        rows.tenors.push_back(std::move(tenor));
        rows.quotes.push_back(quote);
        rows.inUse.push_back(used);
        if (columns[Starts]) {
            rows.starts.push_back(start);
        }
        if (columns[Ends]) {
            rows.ends.push_back(end);
        }
        if (columns[Convexities]) {
            rows.convexities.push_back(convexity);
        }
    }
    // Decimals for percent, as a trade rate of 3.3 is percent for a decimal.
    if (std::any_of(swapQuotes.begin(), swapQuotes.end(), [](double q) { return q != 0.0; }) &&
        std::all_of(swapQuotes.begin(), swapQuotes.end(),
                    [](double q) { return std::abs(q) <= 0.2; })) {
        const PyRef message = pyText(std::string("every quote lies within ±0.2: ") + percentHint);
        doubt("doubt", paths[Quotes], message.get(), nullptr);
    }
}

CurveDescription CurveReader::read(PyObject* data, const std::string& path) {
    if (PyDict_Check(data) == 0) {
        fail(path, "expected a curve object, got " + shown(data));
    }
    checkKeys(data, path, curveKeys);
    CurveDescription description;
    description.id = text(data, path, "id", "a text");
    PyRef day;
    description.valueDate = dateValue(member(data, path, "value date"), Where{path, "value date"},
                                      "a date as YYYY-MM-DD", day);
    setKey(data, "value date", day);
    description.currency = text(data, path, "currency", "a text");
    if (PyObject* value = PyDict_GetItemString(data, "interpolation")) {
        const PyRef name = textValue(value, Where{path, "interpolation"}, "a text");
        const std::optional<std::string> text = utf8Of(name.get());
        if (!text || refusalOf([&] { parseInterpolation(*text); })) {
            std::string names;
            for (const std::string_view n : interpolationNameList()) {
                names += (names.empty() ? "" : ", ") + std::string(n);
            }
            fail(keyPath(path, "interpolation"),
                 "unknown interpolation " + quoted(name.get()) + " (known: " + names + ")");
        }
        description.interpolation = *text;
    }
    cubicFrom(data, path, description);
    turns(data, path, description);
    fixings(data, path, description.instruments.fixings);
    instruments(data, path, description);
    return description;
}

PyRef curveObject(std::shared_ptr<const YieldCurve> curve) {
    PyRef object = checked(newHandleObject(yieldCurveType(), nullptr, nullptr));
    handleOf(object.get()) = registerHandle(std::move(curve));
    return object;
}

PyObject* curveFromDict(PyObject* /*module*/, PyObject* args) {
    PyObject* data = nullptr;
    const char* path = nullptr;
    int strict = 1;
    int build = 1;
    if (PyArg_ParseTuple(args, "Osp|p", &data, &path, &strict, &build) == 0) {
        return nullptr;
    }
    PyObject* result = nullptr;
    runGuarded([&] {
        CurveReader reader(strict != 0);
        PyRef curve = PyRef::borrow(Py_None);
        PyRef problem = PyRef::borrow(Py_None);
        PyRef failure = PyRef::borrow(Py_None);
        try {
            CurveDescription description = reader.read(data, path);
            if (build != 0 && reader.refusal()) {
                failure = pyText(*reader.refusal());
            } else if (build != 0) {
                std::shared_ptr<const YieldCurve> built;
                if (auto why = refusalOf([&] { built = buildCurve(std::move(description)); })) {
                    failure = pyText(*why);
                } else {
                    curve = curveObject(std::move(built));
                }
            }
        } catch (const InputProblem& p) {
            problem = checked(Py_BuildValue("(ss)", p.path.c_str(), p.message.c_str()));
        } catch (const StopAtDoubt&) {
            // the doubt is the answer
        }
        result = checked(PyTuple_Pack(4, curve.get(), reader.doubts().get(), problem.get(),
                                      failure.get()))
                     .release();
    });
    return result;
}

PyMethodDef curveSpecMethods[] = {
    {"curve_from_dict", curveFromDict, METH_VARARGS,
     "curve_from_dict(data, path, strict, build=True) -> (curve, doubts, problem, failure)\n\n"
     "Reads a curve dict once, checks it and writes its values back as the library reads "
     "them; with build, bootstraps the curve. doubts lists (kind, path, value, known) for "
     "unknown keys (\"key\"), unknown fixing indices (\"index\") and doubtful values "
     "(\"doubt\", value the message); a strict read stops at the first. problem is the "
     "(path, message) of an unusable input, failure the library's message when the "
     "bootstrap fails; curve is None unless it was built."},
    {nullptr, nullptr, 0, nullptr},
};

} // namespace

PyMethodDef* curveSpecFunctions() {
    return curveSpecMethods;
}

} // namespace tsr
