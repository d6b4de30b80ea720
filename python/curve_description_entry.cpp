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
#include "python/input_reading.hpp"
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
    explicit CurveReader(bool strict) : doubts_(strict) {}

    CurveDescription read(PyObject* data, const std::string& path);
    // A fixings dict at `where`, read into `out`; the checked copy, dates as datetime.date and
    // values as float.
    PyRef readFixings(PyObject* fixings, const std::string& where, CurveFixings& out);

    PyRef& doubts() { return doubts_.list(); }
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

    Doubts doubts_;
    std::optional<std::string> refusal_;
};

void CurveReader::doubt(const char* kind, const std::string& path, PyObject* value,
                        PyObject* known) {
    doubts_.add(kind, path, value, known);
}

template <std::size_t N>
void CurveReader::checkKeys(PyObject* dict, const std::string& path,
                            const std::array<const char*, N>& known) {
    doubts_.unknownKeys(dict, path, known.data(), N);
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
    if (PyDict_Check(fixings.get()) == 0) {
        expected(Where{path, "fixings"}, "an object keyed by index name", fixings.get());
    }
    setKey(data, "fixings", readFixings(fixings.get(), keyPath(path, "fixings"), out));
}

PyRef CurveReader::readFixings(PyObject* fixings, const std::string& where, CurveFixings& out) {
    PyRef result = checked(PyDict_New());
    Py_ssize_t position = 0;
    PyObject* borrowedName = nullptr;
    PyObject* borrowedSeries = nullptr;
    while (PyDict_Next(fixings, &position, &borrowedName, &borrowedSeries) != 0) {
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
    return result;
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
        PyRef failure = PyRef::borrow(Py_None);
        const PyRef problem = problemOf([&] {
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
        });
        result = checked(PyTuple_Pack(4, curve.get(), reader.doubts().get(), problem.get(),
                                      failure.get()))
                     .release();
    });
    return result;
}

PyObject* fixingsFromDict(PyObject* /*module*/, PyObject* args) {
    PyObject* data = nullptr;
    const char* path = nullptr;
    int strict = 1;
    if (PyArg_ParseTuple(args, "O!sp", &PyDict_Type, &data, &path, &strict) == 0) {
        return nullptr;
    }
    PyObject* result = nullptr;
    runGuarded([&] {
        CurveReader reader(strict != 0);
        PyRef fixings = PyRef::borrow(Py_None);
        const PyRef problem = problemOf([&] {
            CurveFixings read;
            fixings = reader.readFixings(data, path, read);
        });
        result =
            checked(PyTuple_Pack(3, fixings.get(), reader.doubts().get(), problem.get())).release();
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
    {"fixings_from_dict", fixingsFromDict, METH_VARARGS,
     "fixings_from_dict(data, path, strict) -> (fixings, doubts, problem)\n\n"
     "Reads a fixings dict {index: {\"dates\": [...], \"values\": [...]}} as a curve's "
     "\"fixings\" are read, at path: a checked copy, dates as datetime.date and values as "
     "float, or None; doubts and problem as curve_from_dict gives them."},
    {nullptr, nullptr, 0, nullptr},
};

} // namespace

PyMethodDef* curveSpecFunctions() {
    return curveSpecMethods;
}

} // namespace tsr
