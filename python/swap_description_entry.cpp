#include "python/swap_description_entry.hpp"

#include "conventions/generator.hpp"
#include "conventions/generator_repository.hpp"
#include "conventions/generator_swap.hpp"
#include "conventions/index_repository.hpp"
#include "conventions/swap_conventions.hpp"
#include "dates/business_day.hpp"
#include "dates/calendar_repository.hpp"
#include "dates/day_counter.hpp"
#include "dates/tenor.hpp"
#include "products/product_interest_rate_swap.hpp"
#include "python/handle_registry.hpp"
#include "python/input_checks.hpp"
#include "python/input_reading.hpp"
#include "python/py_conversion.hpp"
#include "python/py_datetime.hpp"
#include "python/python_types.hpp"
#include "python/swap_inputs.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tsr {

namespace {

// A swap's keys, then the two a trade adds.
constexpr std::array<const char*, 8> tradeKeys = {
    "id",   "effective date", "termination date", "schedule roll", "leg1",
    "leg2", "curve",          "generator"};
constexpr std::size_t swapKeyCount = 6;
// The text conventions of a leg, then the rest of its keys.
constexpr std::array<const char*, 15> legKeys = {"currency",
                                                 "calendar",
                                                 "frequency",
                                                 "day count convention",
                                                 "accrual adjustment",
                                                 "accrual calendar",
                                                 "pay adjustment",
                                                 "pay calendar",
                                                 "is fixed",
                                                 "is paid",
                                                 "pay lag",
                                                 "notional",
                                                 "rate",
                                                 "index",
                                                 "margin"};
constexpr std::size_t legTextCount = 8;
constexpr std::array<const char*, 2> legNames = {"leg1", "leg2"};

const char* const tenorHint = "expected a whole number and a unit D, W, M or Y, e.g. 3M or 10Y";

// What the text of a convention must name, checked in this order once all texts are read. The
// leg's own "calendar" is read but never used: only the accrual and pay calendars roll dates.
enum class Name : std::uint8_t { Calendar, Tenor, DayCount, BusinessDay };
struct NamedKey {
    const char* key;
    Name name;
};
constexpr std::array<NamedKey, 6> namedKeys = {{{"accrual calendar", Name::Calendar},
                                                {"pay calendar", Name::Calendar},
                                                {"frequency", Name::Tenor},
                                                {"day count convention", Name::DayCount},
                                                {"accrual adjustment", Name::BusinessDay},
                                                {"pay adjustment", Name::BusinessDay}}};

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

std::shared_ptr<const GeneratorSwap> swapGenerator(const std::optional<std::string>& label) {
    // Generators are registered once, at import.
    static auto* known =
        new std::unordered_map<std::string, std::shared_ptr<const GeneratorSwap>>();
    if (!label) {
        return nullptr;
    }
    if (const auto found = known->find(*label); found != known->end()) {
        return found->second;
    }
    auto& repository = GeneratorRepository::instance();
    if (!repository.contains(*label)) {
        return nullptr;
    }
    auto swap = std::dynamic_pointer_cast<const GeneratorSwap>(repository.get<Generator>(*label));
    if (swap) {
        known->emplace(*label, swap);
    }
    return swap;
}

[[noreturn]] void unknownGenerator(const std::string& path, PyObject* name) {
    std::vector<std::string> names;
    GeneratorRepository::instance().forEach([&](const std::string& label, const auto& g) {
        if (std::dynamic_pointer_cast<const GeneratorSwap>(g)) {
            names.push_back(label);
        }
    });
    std::sort(names.begin(), names.end());
    fail(path, "unknown generator " + quoted(name) + " (known: " + joined(names) + ")");
}

// The message of a convention name the library refuses; none when it reads it.
std::optional<std::string> nameRefusal(Name name, PyObject* value) {
    const std::optional<std::string> text = utf8Of(value);
    if (name == Name::Calendar) {
        std::optional<std::string> why;
        if (!text) {
            why = refusalOf([&] { readAs<std::string>(value); });
        } else {
            why = refusalOf([&] { CalendarRepository::instance().get(*text); });
        }
        // The library names the calendar of a union that it does not know.
        constexpr std::string_view notFound = "Calendar not found: ";
        if (!why || why->rfind(notFound, 0) != 0 || why->find('\n') != std::string::npos) {
            return why;
        }
        std::vector<std::string> names;
        for (const auto& calendar : CalendarRepository::instance().all()) {
            names.push_back(calendar->name());
        }
        return "unknown calendar " + quotedText(why->substr(notFound.size())) +
               " (known: " + joined(names) + "; join names with commas for a union)";
    }
    const bool refused = !text || refusalOf([&] {
                                      if (name == Name::Tenor) {
                                          Tenor{*text};
                                      } else if (name == Name::DayCount) {
                                          DayCounter{*text};
                                      } else {
                                          parseBusinessDay(*text);
                                      }
                                  }).has_value();
    if (!refused) {
        return std::nullopt;
    }
    if (name == Name::Tenor) {
        return "invalid tenor " + quoted(value) + " (" + tenorHint + ")";
    }
    return std::string(name == Name::DayCount ? "unknown day count " : "unknown business day ") +
           quoted(value);
}

bool isMapping(PyObject* value) {
    static PyObject* mapping = [] {
        const PyRef abc = checked(PyImport_ImportModule("collections.abc"));
        return checked(PyObject_GetAttrString(abc.get(), "Mapping")).release();
    }();
    const int found = PyObject_IsInstance(value, mapping);
    if (found < 0) {
        throw PythonError();
    }
    return found != 0;
}

// A private copy made of dicts and lists, as the package's plain() makes it.
PyRef plainCopy(PyObject* value) {
    if (PyUnicode_CheckExact(value) || PyFloat_CheckExact(value) || PyLong_CheckExact(value) ||
        PyBool_Check(value) || value == Py_None) {
        return PyRef::borrow(value);
    }
    // A dict subclass is read from its storage, as everywhere in the module: its own views
    // are not called.
    const bool dict = PyDict_Check(value) != 0;
    if (!dict && !isMapping(value) && PyList_Check(value) == 0 && PyTuple_Check(value) == 0) {
        return PyRef::borrow(value);
    }
    if (dict) {
        // A dict of plain values, such as a leg, copies as it is.
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* item = nullptr;
        bool flat = true;
        while (flat && PyDict_Next(value, &position, &key, &item) != 0) {
            flat = PyUnicode_CheckExact(item) || PyFloat_CheckExact(item) ||
                   PyLong_CheckExact(item) || PyBool_Check(item) || item == Py_None;
        }
        if (flat && PyDict_CheckExact(value)) {
            return checked(PyDict_Copy(value));
        }
    }
    if (Py_EnterRecursiveCall(" while copying an input") != 0) {
        throw PythonError();
    }
    struct Leave {
        ~Leave() { Py_LeaveRecursiveCall(); }
    } leave;
    if (PyList_Check(value) != 0 || PyTuple_Check(value) != 0) {
        // Read from the storage, as dicts are.
        const bool list = PyList_Check(value) != 0;
        const Py_ssize_t n = list ? PyList_GET_SIZE(value) : PyTuple_GET_SIZE(value);
        const PyRef items = checked(PyList_New(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyRef item = plainCopy(list ? PyList_GET_ITEM(value, i) : PyTuple_GET_ITEM(value, i));
            PyList_SET_ITEM(items.get(), i, item.release());
        }
        return PyRef::borrow(items.get());
    }
    PyRef copy = checked(PyDict_New());
    const PyRef pairs = dict ? checked(PyDict_Items(value))
                             : checked(PySequence_List(checked(PyMapping_Items(value)).get()));
    const Py_ssize_t n = PyList_GET_SIZE(pairs.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* pair = PyList_GET_ITEM(pairs.get(), i);
        const PyRef item = plainCopy(PyTuple_GET_ITEM(pair, 1));
        if (PyDict_SetItem(copy.get(), PyTuple_GET_ITEM(pair, 0), item.get()) < 0) {
            throw PythonError();
        }
    }
    return copy;
}

// A generator's conventions for one leg: leg1 fixed and paid, leg2 floating and received.
const PyRef& generatorLeg(const GeneratorSwap& generator, const std::string& label,
                          std::size_t leg) {
    // Kept for the process: generators are registered once, at import.
    static auto* known = new std::unordered_map<std::string, std::array<PyRef, 2>>();
    std::array<PyRef, 2>& legs = (*known)[label];
    if (!legs[leg]) {
        PyRef conventions = legConventions(*generator.legs()[leg]);
        if (PyDict_DelItem(conventions.get(), keyObject("is paid")) < 0) {
            throw PythonError();
        }
        setKey(conventions.get(), "is paid", PyRef::borrow(leg == 0 ? Py_True : Py_False));
        legs[leg] = std::move(conventions);
    }
    return legs[leg];
}

// Leg conventions already read in this process, by their values: a book's swaps share a few
// sets of them. Only sets of exact str, bool and int values are kept, which read as they are.
std::unordered_set<std::string>& conventionsRead() {
    static auto* read = new std::unordered_set<std::string>();
    if (read->size() > 4096) {
        read->clear();
    }
    return *read;
}

// Reads swap and trade dicts into checked private copies, values written back as the library
// reads them; doubts are collected, a strict read stops at the first.
class SwapReader {
public:
    explicit SwapReader(bool strict) : strict_(strict) {}

    // (curve, data, doubts, problem): `curve` is None unless `trade`. A clean read gives
    // (curve, data) when `brief`.
    PyRef read(PyObject* entry, const std::string& path, bool trade, PyObject* generator,
               bool brief);

private:
    PyRef readTrade(PyObject* entry, const std::string& path, PyRef& curve, PyRef& data,
                    std::vector<const char*>& known);
    void readSwap(PyObject* data, const std::string& path, const std::vector<const char*>& known);
    bool conventions(PyObject* legs, const std::string& path);
    PyObject* member(PyObject* dict, const std::string& path, const char* key);
    PyRef text(PyObject* dict, const std::string& path, const char* key, const char* what);
    double number(PyObject* dict, const std::string& path, const char* key, const char* what);
    PyRef dateOf(PyObject* dict, const std::string& path, const char* key);
    void rateDoubt(double rate, const std::string& path, const char* key);

    bool strict_;
    std::optional<Doubts> doubts_;
    std::unordered_map<std::string, PyRef> dates_;
};

PyObject* SwapReader::member(PyObject* dict, const std::string& path, const char* key) {
    PyObject* value = lookup(dict, key);
    if (value == nullptr) {
        fail(keyPath(path, key), "missing key");
    }
    return value;
}

PyRef SwapReader::text(PyObject* dict, const std::string& path, const char* key, const char* what) {
    PyRef value = textValue(member(dict, path, key), Where{path, key}, what);
    setKey(dict, key, value);
    return value;
}

double SwapReader::number(PyObject* dict, const std::string& path, const char* key,
                          const char* what) {
    PyObject* given = member(dict, path, key);
    const double value = numberValue(given, Where{path, key}, what);
    if (!PyFloat_CheckExact(given)) {
        setKey(dict, key, checked(PyFloat_FromDouble(value)));
    }
    return value;
}

PyRef SwapReader::dateOf(PyObject* dict, const std::string& path, const char* key) {
    PyObject* value = member(dict, path, key);
    if (!datetimeReady()) {
        throw PythonError();
    }
    PyRef kept;
    if (isPyDate(value)) {
        const PyDateParts parts = pyDateParts(value);
        kept = Py_IS_TYPE(value, pyDateType()) ? PyRef::borrow(value)
                                               : newPyDate(parts.year, parts.month, parts.day);
    } else {
        // Trades of a file share a few dates.
        const std::optional<std::string> iso =
            PyUnicode_CheckExact(value) ? utf8Of(value) : std::nullopt;
        const auto found = iso ? dates_.find(*iso) : dates_.end();
        if (found != dates_.end()) {
            kept = PyRef::borrow(found->second.get());
        } else {
            kept = newPyDate(libraryValue<date>(value, Where{path, key}, "a date as YYYY-MM-DD"));
            if (kept && iso) {
                dates_.emplace(*iso, PyRef::borrow(kept.get()));
            }
        }
    }
    if (!kept) {
        throw PythonError();
    }
    setKey(dict, key, kept);
    return kept;
}

void SwapReader::rateDoubt(double rate, const std::string& path, const char* key) {
    if (std::abs(rate) > 1) {
        const PyRef message = pyText(shortFloat(rate) + " is not a decimal rate; " + rateHint);
        doubts_->add("doubt", keyPath(path, key), message.get(), nullptr);
    }
}

// Reads the conventions of a leg in place; a set read before is not read again. True for a
// fixed leg.
bool SwapReader::conventions(PyObject* legs, const std::string& path) {
    std::string seen;
    bool plain = true;
    for (std::size_t k = 0; k < legTextCount + 3 && plain; ++k) {
        PyObject* value = lookup(legs, legKeys[k]);
        const bool exact = value != nullptr && (k < legTextCount       ? PyUnicode_CheckExact(value)
                                                : k < legTextCount + 2 ? PyBool_Check(value)
                                                                       : PyLong_CheckExact(value));
        const PyRef shown = exact ? checked(PyObject_Str(value)) : PyRef();
        const std::optional<std::string> text = exact ? utf8Of(shown.get()) : std::nullopt;
        plain = text.has_value();
        seen += text.value_or("") + '\x1f';
    }
    if (plain && conventionsRead().contains(seen)) {
        return lookup(legs, "is fixed") == Py_True;
    }
    for (std::size_t k = 0; k < legTextCount; ++k) {
        text(legs, path, legKeys[k], "a text");
    }
    for (const NamedKey& named : namedKeys) {
        if (auto why = nameRefusal(named.name, lookup(legs, named.key))) {
            fail(keyPath(path, named.key), std::move(*why));
        }
    }
    bool flags[2] = {};
    for (std::size_t k = 0; k < 2; ++k) {
        const char* key = legKeys[legTextCount + k];
        flags[k] = boolValue(member(legs, path, key), Where{path, key}, "true or false");
        setKey(legs, key, PyRef::borrow(flags[k] ? Py_True : Py_False));
    }
    const int lag = libraryValue<int>(member(legs, path, "pay lag"), Where{path, "pay lag"},
                                      "a whole number of days");
    if (auto why = refusalOf([&] { checkedLagDays(lag, "pay lag"); })) {
        constexpr std::string_view prefix = "Error, ";
        fail(keyPath(path, "pay lag"),
             why->rfind(prefix, 0) == 0 ? why->substr(prefix.size()) : *why);
    }
    setKey(legs, "pay lag", checked(PyLong_FromLong(lag)));
    if (plain) {
        conventionsRead().insert(std::move(seen));
    }
    return flags[0];
}

void SwapReader::readSwap(PyObject* data, const std::string& path,
                          const std::vector<const char*>& known) {
    doubts_->unknownKeys(data, path, known.data(), known.size());
    text(data, path, "id", "a text");
    const PyRef start = dateOf(data, path, "effective date");
    const PyRef end = dateOf(data, path, "termination date");
    const int after = PyObject_RichCompareBool(end.get(), start.get(), Py_GT);
    if (after < 0) {
        throw PythonError();
    }
    if (after == 0) {
        fail(keyPath(path, "termination date"),
             utf8Or(checked(PyObject_Str(end.get())).get(), "") +
                 " is not after the effective date " +
                 utf8Or(checked(PyObject_Str(start.get())).get(), ""));
    }
    text(data, path, "schedule roll", "a text");
    for (const char* name : legNames) {
        const PyRef legs = PyRef::borrow(member(data, path, name));
        if (PyDict_Check(legs.get()) == 0) {
            expected(Where{path, name}, "a leg object", legs.get());
        }
        const std::string legPath = keyPath(path, name);
        doubts_->unknownKeys(legs.get(), legPath, legKeys.data(), legKeys.size());
        const bool fixed = conventions(legs.get(), legPath);
        number(legs.get(), legPath, "notional", "a number");
        if (fixed) {
            rateDoubt(number(legs.get(), legPath, "rate", "a decimal rate"), legPath, "rate");
            continue;
        }
        const PyRef index = text(legs.get(), legPath, "index", "an index name");
        const std::optional<std::string> label = utf8Of(index.get());
        if (!label || refusalOf([&] { IndexRepository::instance().get<Index>(*label); })) {
            fail(keyPath(legPath, "index"),
                 "unknown index " + quoted(index.get()) +
                     " (known: " + joined(sortedLabels(IndexRepository::instance())) + ")");
        }
        rateDoubt(number(legs.get(), legPath, "margin", "a decimal margin"), legPath, "margin");
    }
}

// The swap of a trade dict, its "generator" filling the legs; `curve` is its curve id.
PyRef SwapReader::readTrade(PyObject* entry, const std::string& path, PyRef& curve, PyRef& data,
                            std::vector<const char*>& known) {
    if (PyDict_Check(entry) == 0 && !isMapping(entry)) {
        fail(path, "expected a trade object, got " + shown(entry));
    }
    data = plainCopy(entry);
    curve = textValue(member(data.get(), path, "curve"), Where{path, "curve"}, "a curve id");
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(data.get(), &position, &key, &value) != 0) {
        for (std::size_t k = swapKeyCount; k < tradeKeys.size(); ++k) {
            if (isKnown(key, &tradeKeys[k], &tradeKeys[k] + 1)) {
                known.push_back(tradeKeys[k]);
            }
        }
    }
    PyRef generator;
    if (PyObject* given = lookup(data.get(), "generator")) {
        generator = textValue(given, Where{path, "generator"}, "a generator name");
    }
    for (const char* name : {"curve", "generator"}) {
        if (lookup(data.get(), name) != nullptr &&
            PyDict_DelItem(data.get(), keyObject(name)) < 0) {
            throw PythonError();
        }
    }
    return PyRef::borrow(generator ? generator.get() : Py_None);
}

PyRef SwapReader::read(PyObject* entry, const std::string& path, bool trade, PyObject* generator,
                       bool brief) {
    doubts_.emplace(strict_);
    PyRef curve = PyRef::borrow(Py_None);
    PyRef data;
    bool read = false;
    const PyRef problem = problemOf([&] {
        PyRef filler = PyRef::borrow(generator);
        std::vector<const char*> known(tradeKeys.begin(), tradeKeys.begin() + swapKeyCount);
        if (trade) {
            filler = readTrade(entry, path, curve, data, known);
        } else {
            data = plainCopy(entry);
            if (PyDict_Check(data.get()) == 0) {
                fail(path, "expected a swap object, got " + shown(entry));
            }
        }
        if (filler.get() != Py_None) {
            const auto swap = swapGenerator(
                PyUnicode_Check(filler.get()) != 0 ? utf8Of(filler.get()) : std::nullopt);
            if (!swap) {
                unknownGenerator(keyPath(path, "generator"), filler.get());
            }
            const std::string label = utf8Or(filler.get(), "");
            if (PyDict_SetDefault(data.get(), keyObject("schedule roll"),
                                  pyText("backward").get()) == nullptr) {
                throw PythonError();
            }
            for (std::size_t k = 0; k < legNames.size(); ++k) {
                PyObject* given = lookup(data.get(), legNames[k]);
                if (given != nullptr && PyDict_Check(given) == 0) {
                    // A trade's legs are named here; a swap's where they are read.
                    if (trade) {
                        expected(Where{path, legNames[k]}, "a leg object", given);
                    }
                    continue;
                }
                PyRef legs = checked(PyDict_Copy(generatorLeg(*swap, label, k).get()));
                if (given != nullptr && PyDict_Update(legs.get(), given) < 0) {
                    throw PythonError();
                }
                setKey(data.get(), legNames[k], legs);
            }
        }
        readSwap(data.get(), path, known);
        read = true;
    });
    if (!read) {
        data = PyRef::borrow(Py_None);
    }
    PyRef& doubts = doubts_->list();
    if (brief && problem.get() == Py_None && PyList_GET_SIZE(doubts.get()) == 0) {
        return checked(PyTuple_Pack(2, curve.get(), data.get()));
    }
    return checked(PyTuple_Pack(4, curve.get(), data.get(), doubts.get(), problem.get()));
}

// The parsed conventions of a checked swap dict, kept by the values of its leg conventions
// until a calendar is registered again; the first swap of a set parses them as the dict route
// does.
std::shared_ptr<const SwapConventions> parsedConventions(PyObject* data) {
    static auto* known =
        new std::unordered_map<std::string, std::shared_ptr<const SwapConventions>>();
    static std::uint64_t generation = CalendarRepository::generation();
    if (generation != CalendarRepository::generation() || known->size() > 4096) {
        known->clear();
        generation = CalendarRepository::generation();
    }
    std::string key;
    for (const char* name : legNames) {
        PyObject* legs = lookup(data, name);
        // The texts, the two flags and the pay lag, then a floating leg's index.
        const bool fixed = lookup(legs, "is fixed") == Py_True;
        for (std::size_t k = 0; k < legTextCount + 3 + (fixed ? 0 : 1); ++k) {
            const std::optional<std::string> text = utf8Of(
                checked(PyObject_Str(lookup(legs, k < legTextCount + 3 ? legKeys[k] : "index")))
                    .get());
            if (!text) {
                return nullptr;
            }
            key += *text + '\x1f';
        }
    }
    auto& conventions = (*known)[key];
    if (!conventions) {
        const SwapDescriptions inputs = assembleSwapInputs(pyObjectToPropertyTree(data, "root"));
        conventions = std::make_shared<const SwapConventions>(
            std::make_shared<const GeneratorSwap>(inputs.generator));
    }
    return conventions;
}

// The `_tessarin.IRS` of a checked swap dict, built from its typed terms; None when the build
// fails, which the dict route then reports with its own message.
PyRef builtSwap(PyObject* data) {
    std::shared_ptr<const ProductInterestRateSwap> swap;
    try {
        const CalendarRepository::SteadyView calendars;
        const std::shared_ptr<const SwapConventions> conventions = parsedConventions(data);
        SwapTerms terms;
        const std::optional<std::string> id = utf8Of(lookup(data, "id"));
        if (!conventions || !id) {
            return PyRef::borrow(Py_None);
        }
        terms.id = *id;
        terms.startDate = pyDateToDate(lookup(data, "effective date"));
        terms.endDate = pyDateToDate(lookup(data, "termination date"));
        for (std::size_t k = 0; k < legNames.size(); ++k) {
            PyObject* legs = lookup(data, legNames[k]);
            const bool fixed = lookup(legs, "is fixed") == Py_True;
            terms.legs[k].notional = PyFloat_AS_DOUBLE(lookup(legs, "notional"));
            (fixed ? terms.legs[k].rate : terms.legs[k].margin) =
                PyFloat_AS_DOUBLE(lookup(legs, fixed ? "rate" : "margin"));
        }
        swap = std::make_shared<const ProductInterestRateSwap>(*conventions, terms);
    } catch (const PythonError&) {
        if (PyErr_ExceptionMatches(PyExc_MemoryError) != 0) {
            throw;
        }
        PyErr_Clear();
        return PyRef::borrow(Py_None);
    } catch (const std::exception&) {
        return PyRef::borrow(Py_None);
    }
    PyRef object = checked(newHandleObject(interestRateSwapType(), nullptr, nullptr));
    handleOf(object.get()) = registerHandle(std::move(swap));
    return object;
}

PyObject* swapFromDict(PyObject* /*module*/, PyObject* args) {
    PyObject* data = nullptr;
    const char* path = nullptr;
    int strict = 1;
    PyObject* generator = Py_None;
    int trade = 0;
    int build = 0;
    if (PyArg_ParseTuple(args, "Osp|Opp", &data, &path, &strict, &generator, &trade, &build) == 0) {
        return nullptr;
    }
    PyObject* result = nullptr;
    runGuarded([&] {
        PyRef read = SwapReader(strict != 0).read(data, path, trade != 0, generator, false);
        if (build == 0) {
            result = read.release();
            return;
        }
        PyObject* checkedData = PyTuple_GET_ITEM(read.get(), 1);
        const PyRef swap = checkedData == Py_None ? PyRef::borrow(Py_None) : builtSwap(checkedData);
        result = Py_BuildValue("(OOOOO)", PyTuple_GET_ITEM(read.get(), 0), checkedData,
                               PyTuple_GET_ITEM(read.get(), 2), PyTuple_GET_ITEM(read.get(), 3),
                               swap.get());
        if (result == nullptr) {
            throw PythonError();
        }
    });
    return result;
}

// The proleptic Gregorian ordinal of a date less that of 1970-01-01, as the book holds dates.
long epochDays(PyObject* day) {
    const PyDateParts parts = pyDateParts(day);
    constexpr std::array<int, 12> before = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const long y = parts.year - 1;
    const bool leap = parts.year % 4 == 0 && (parts.year % 100 != 0 || parts.year % 400 == 0);
    return y * 365 + y / 4 - y / 100 + y / 400 + before[static_cast<std::size_t>(parts.month - 1)] +
           (leap && parts.month > 2 ? 1 : 0) + parts.day - 719163;
}

// The columns of a book's trades: typed terms per row, and one swap per set of leg conventions.
class BookColumns {
public:
    static constexpr std::array<const char*, 13> names = {"id",
                                                          "curve",
                                                          "conventions",
                                                          "effective date",
                                                          "termination date",
                                                          "leg1 rate",
                                                          "leg1 margin",
                                                          "leg1 notional",
                                                          "leg2 rate",
                                                          "leg2 margin",
                                                          "leg2 notional",
                                                          "error column",
                                                          "error"};

    BookColumns()
        : sets_(checked(PyDict_New())), conventions_(checked(PyList_New(0))),
          zero_(checked(PyFloat_FromDouble(0.0))) {
        for (PyRef& column : columns_) {
            column = checked(PyList_New(0));
        }
    }

    void add(PyObject* curve, PyObject* swap) {
        PyRef key = checked(PyTuple_New(2));
        for (std::size_t k = 0; k < 2; ++k) {
            PyTuple_SET_ITEM(key.get(), static_cast<Py_ssize_t>(k),
                             legKey(lookup(swap, legNames[k])).release());
        }
        PyObject* code = PyDict_GetItemWithError(sets_.get(), key.get());
        if (code == nullptr) {
            if (PyErr_Occurred() != nullptr) {
                throw PythonError();
            }
            const PyRef next = checked(PyLong_FromSsize_t(PyDict_Size(sets_.get())));
            if (PyDict_SetItem(sets_.get(), key.get(), next.get()) < 0 ||
                PyList_Append(conventions_.get(), swap) < 0) {
                throw PythonError();
            }
            code = PyDict_GetItemWithError(sets_.get(), key.get());
        }
        std::array<PyRef, names.size()> row;
        row[0] = PyRef::borrow(lookup(swap, "id"));
        row[1] = PyRef::borrow(curve);
        row[2] = PyRef::borrow(code);
        row[3] = checked(PyLong_FromLong(epochDays(lookup(swap, "effective date"))));
        row[4] = checked(PyLong_FromLong(epochDays(lookup(swap, "termination date"))));
        for (std::size_t k = 0; k < 2; ++k) {
            PyObject* terms = lookup(swap, legNames[k]);
            const bool fixed = lookup(terms, "is fixed") == Py_True;
            row[5 + 3 * k] = PyRef::borrow(fixed ? lookup(terms, "rate") : zero_.get());
            row[6 + 3 * k] = PyRef::borrow(fixed ? zero_.get() : lookup(terms, "margin"));
            row[7 + 3 * k] = PyRef::borrow(lookup(terms, "notional"));
        }
        row[11] = PyRef::borrow(Py_None);
        row[12] = PyRef::borrow(Py_None);
        append(row);
    }

    // A refused row, its id and message filled in by the package.
    void refuse() {
        std::array<PyRef, names.size()> row;
        const PyRef none = checked(PyLong_FromLong(0));
        for (std::size_t c = 0; c < names.size(); ++c) {
            row[c] = PyRef::borrow(c >= 5 && c <= 10 ? zero_.get() : none.get());
        }
        append(row);
    }

    // (columns, conventions)
    PyRef result() {
        PyRef columns = checked(PyDict_New());
        for (std::size_t c = 0; c < names.size(); ++c) {
            setKey(columns.get(), names[c], columns_[c]);
        }
        return checked(PyTuple_Pack(2, columns.get(), conventions_.get()));
    }

private:
    // The conventions of a checked leg, which tell convention sets apart.
    static PyRef legKey(PyObject* terms) {
        constexpr std::size_t count = legTextCount + 3;
        PyRef key = checked(PyTuple_New(count + 1));
        for (std::size_t k = 0; k <= count; ++k) {
            PyObject* value = lookup(terms, k < count ? legKeys[k] : "index");
            PyTuple_SET_ITEM(key.get(), static_cast<Py_ssize_t>(k),
                             Py_NewRef(value != nullptr ? value : Py_None));
        }
        return key;
    }

    void append(const std::array<PyRef, names.size()>& row) {
        for (std::size_t c = 0; c < names.size(); ++c) {
            tsr::append(columns_[c].get(), row[c]);
        }
    }

    std::array<PyRef, names.size()> columns_;
    PyRef sets_;
    PyRef conventions_;
    PyRef zero_;
};

PyObject* tradesFromDicts(PyObject* /*module*/, PyObject* args) {
    PyObject* entries = nullptr;
    int strict = 1;
    int asColumns = 0;
    if (PyArg_ParseTuple(args, "O!p|p", &PyList_Type, &entries, &strict, &asColumns) == 0) {
        return nullptr;
    }
    PyObject* result = nullptr;
    runGuarded([&] {
        const PyRef owned = PyRef::borrow(entries);
        PyRef reads = checked(PyList_New(0));
        std::optional<BookColumns> columns;
        if (asColumns != 0) {
            columns.emplace();
        }
        SwapReader reader(strict != 0);
        // The reads make no cycles: the collector is kept from walking them while they grow.
        const int collecting = PyGC_Disable();
        struct Restore {
            int collecting;
            ~Restore() {
                if (collecting != 0) {
                    PyGC_Enable();
                }
            }
        } restore{collecting};
        // The list is looked up afresh: code run by a message may shorten it.
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(entries); ++i) {
            const PyRef entry = PyRef::borrow(PyList_GET_ITEM(entries, i));
            PyRef read = reader.read(entry.get(), itemPath("trades", i), true, Py_None, true);
            const bool clean = PyTuple_GET_SIZE(read.get()) == 2;
            if (columns) {
                PyObject* swap = PyTuple_GET_ITEM(read.get(), 1);
                if (swap != Py_None) {
                    columns->add(PyTuple_GET_ITEM(read.get(), 0), swap);
                } else {
                    columns->refuse();
                }
                if (clean) {
                    continue;
                }
                read = checked(Py_BuildValue("(nO)", i, read.get()));
            }
            append(reads.get(), read);
        }
        if (!columns) {
            result = reads.release();
            return;
        }
        PyRef table = columns->result();
        result = Py_BuildValue("(OOO)", PyTuple_GET_ITEM(table.get(), 0),
                               PyTuple_GET_ITEM(table.get(), 1), reads.get());
        if (result == nullptr) {
            throw PythonError();
        }
    });
    return result;
}

PyMethodDef swapDescriptionMethods[] = {
    {"swap_from_dict", swapFromDict, METH_VARARGS,
     "swap_from_dict(data, path, strict, generator=None, trade=False, build=False)\n"
     "-> (curve, swap, doubts, problem)\n\n"
     "Reads a swap dict (a trade dict with trade, its \"curve\" returned as curve) into a "
     "checked private copy, values as the library reads them; a generator fills the leg keys "
     "the dict leaves out. doubts lists (kind, path, value, known) for unknown keys (\"key\") "
     "and doubtful values (\"doubt\", value the message); a strict read stops at the first. "
     "problem is the (path, message) of an unusable input; swap is None then. With build, a "
     "fifth item: the _tessarin.IRS of the checked swap, built from its typed terms, or None "
     "when there is no swap or the build fails (_tessarin.IRS(swap) then says why)."},
    {"trades_from_dicts", tradesFromDicts, METH_VARARGS,
     "trades_from_dicts(entries, strict, columns=False) -> list\n\n"
     "swap_from_dict of each trade dict of a list, at the path trades[i]: (curve, swap) for a "
     "clean entry, (curve, swap, doubts, problem) otherwise. Conventions and dates met before "
     "are read once. With columns, (columns, conventions, issues): the book's columns of the "
     "trades (a refused row zero, its id and message left to the caller), the first swap of "
     "each set of leg conventions, and (i, (curve, swap, doubts, problem)) for each entry that "
     "is not clean."},
    {nullptr, nullptr, 0, nullptr},
};

} // namespace

PyMethodDef* swapDescriptionFunctions() {
    return swapDescriptionMethods;
}

} // namespace tsr
