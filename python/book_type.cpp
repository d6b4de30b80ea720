#include "python/book_type.hpp"

#include "conventions/generator_swap.hpp"
#include "core/shown_text.hpp"
#include "curves/yield_curve.hpp"
#include "dates/date_arithmetic.hpp"
#include "pricing/book.hpp"
#include "pricing/thread_count.hpp"
#include "python/entry_guard.hpp"
#include "python/handle_registry.hpp"
#include "python/py_conversion.hpp"
#include "python/py_list.hpp"
#include "python/python_types.hpp"
#include "python/swap_inputs.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tsr {

namespace {

std::shared_ptr<const Book> requireBook(PyObject* self) {
    auto book = resolveHandle<Book>(handleOf(self));
    if (!book) {
        throw std::runtime_error("Error, the book is not initialised.");
    }
    return book;
}

// The list under `name`, holding one item per row.
PyObject* column(PyObject* columns, const char* name, Py_ssize_t rows) {
    PyObject* list = PyDict_GetItemString(columns, name);
    if (list == nullptr || !PyList_Check(list) || PyList_GET_SIZE(list) != rows) {
        throw std::invalid_argument(std::string("Error, the trade column '") + name +
                                    "' must be a list with one item per trade.");
    }
    return list;
}

std::string textOf(PyObject* item) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(item, &size);
    if (text == nullptr) {
        throw PythonError();
    }
    return std::string(text, static_cast<std::size_t>(size));
}

double numberOf(PyObject* item) {
    const double value = PyFloat_AsDouble(item);
    if (value == -1.0 && PyErr_Occurred() != nullptr) {
        throw PythonError();
    }
    return value;
}

long long integerOf(PyObject* item) {
    const long long value = PyLong_AsLongLong(item);
    if (value == -1 && PyErr_Occurred() != nullptr) {
        throw PythonError();
    }
    return value;
}

// The generator the swap dict assembly makes from a swap dict, or why it cannot.
BookConventionsInput conventionsOf(PyObject* swap) {
    const SwapDescriptions inputs = assembleSwapInputs(pyObjectToPropertyTree(swap, "root"));
    if (!inputs.missing.empty()) {
        return {nullptr,
                {"generator", "Missing mandatory input: " +
                                  inputs.missing.substr(0, inputs.missing.size() - 1)}};
    }
    try {
        return {std::make_shared<const GeneratorSwap>(inputs.generator), {}};
    } catch (const std::exception& e) {
        return {nullptr, {"generator", e.what()}};
    }
}

// A date given as days since 1970-01-01, inside the years the date library holds.
date dateOf(PyObject* item, const char* column, Py_ssize_t row) {
    if (const std::optional<date> day = dateFromEpochDays(integerOf(item))) {
        return *day;
    }
    throw std::invalid_argument("Error, the " + std::string(column) + " of trade row " +
                                std::to_string(row) + " is outside the years 1400 to 9999.");
}

// Rows from the trade columns; dates are days since 1970-01-01, an error message refuses
// its row before building.
std::vector<BookTradeInput> tradesOf(PyObject* columns) {
    PyObject* ids = PyDict_GetItemString(columns, "id");
    if (ids == nullptr || !PyList_Check(ids)) {
        throw std::invalid_argument("Error, the trade column 'id' must be a list.");
    }
    const Py_ssize_t rows = PyList_GET_SIZE(ids);
    PyObject* curve = column(columns, "curve", rows);
    PyObject* conventions = column(columns, "conventions", rows);
    PyObject* start = column(columns, "effective date", rows);
    PyObject* end = column(columns, "termination date", rows);
    const char* numberNames[] = {"leg1 rate", "leg1 margin", "leg1 notional",
                                 "leg2 rate", "leg2 margin", "leg2 notional"};
    PyObject* numbers[6];
    for (std::size_t c = 0; c < 6; ++c) {
        numbers[c] = column(columns, numberNames[c], rows);
    }
    PyObject* errorColumn = column(columns, "error column", rows);
    PyObject* error = column(columns, "error", rows);

    std::vector<BookTradeInput> trades(static_cast<std::size_t>(rows));
    for (Py_ssize_t r = 0; r < rows; ++r) {
        BookTradeInput& trade = trades[static_cast<std::size_t>(r)];
        trade.terms.id = textOf(PyList_GET_ITEM(ids, r));
        trade.curve = textOf(PyList_GET_ITEM(curve, r));
        PyObject* message = PyList_GET_ITEM(error, r);
        if (message != Py_None) {
            trade.error = {textOf(PyList_GET_ITEM(errorColumn, r)), textOf(message)};
            continue;
        }
        trade.conventions = static_cast<std::size_t>(integerOf(PyList_GET_ITEM(conventions, r)));
        trade.terms.startDate = dateOf(PyList_GET_ITEM(start, r), "effective date", r);
        trade.terms.endDate = dateOf(PyList_GET_ITEM(end, r), "termination date", r);
        for (std::size_t k = 0; k < 2; ++k) {
            trade.terms.legs[k].rate = numberOf(PyList_GET_ITEM(numbers[3 * k], r));
            trade.terms.legs[k].margin = numberOf(PyList_GET_ITEM(numbers[3 * k + 1], r));
            trade.terms.legs[k].notional = numberOf(PyList_GET_ITEM(numbers[3 * k + 2], r));
        }
    }
    return trades;
}

Book::CurveSet curvesOf(PyObject* curves) {
    Book::CurveSet result;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t position = 0;
    while (PyDict_Next(curves, &position, &key, &value) != 0) {
        if (PyObject_TypeCheck(value, yieldCurveType()) == 0) {
            throw std::invalid_argument("Error, the curve '" + shownText(textOf(key)) +
                                        "' is not a _tessarin.YieldCurve.");
        }
        auto curve = resolveHandle<YieldCurve>(handleOf(value));
        if (!curve) {
            throw std::runtime_error("Error, the yield curve is not initialised.");
        }
        result[textOf(key)] = std::move(curve);
    }
    return result;
}

// True without a failure; otherwise raises it in Python (the lock held) and returns false.
bool succeeded(const std::exception_ptr& failure) {
    if (!failure) {
        return true;
    }
    try {
        std::rethrow_exception(failure);
    } catch (...) {
        setPythonError();
    }
    return false;
}

// Runs `work` without the interpreter lock; what it throws is raised once the lock is back.
template <class Work> bool withoutLock(Work&& work) {
    std::exception_ptr failure;
    Py_BEGIN_ALLOW_THREADS try { work(); } catch (...) {
        failure = std::current_exception();
    }
    Py_END_ALLOW_THREADS return succeeded(failure);
}

// How often a watched call reports its progress and lets a signal through.
constexpr std::chrono::milliseconds watchInterval{100};

// Runs work on a thread of its own while this one wakes every interval, takes the lock, calls
// report(trades done) and lets a signal (Ctrl-C) through. An error there asks the workers to
// stop, waits for them and becomes the call's error.
template <class Work> bool watched(Work&& work, PyObject* report, CallProgress& progress) {
    std::exception_ptr failure;
    std::mutex mutex;
    std::condition_variable finished;
    bool over = false;
    bool interrupted = false;
    {
        const std::jthread runner([&] {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
            const std::lock_guard<std::mutex> lock(mutex);
            over = true;
            finished.notify_all();
        });
        for (;;) {
            bool ended = false;
            Py_BEGIN_ALLOW_THREADS {
                std::unique_lock<std::mutex> lock(mutex);
                ended = finished.wait_for(lock, watchInterval, [&] { return over; });
            }
            Py_END_ALLOW_THREADS if (ended) {
                break;
            }
            if (interrupted) {
                continue;
            }
            const PyRef reported =
                PyErr_CheckSignals() < 0
                    ? PyRef()
                    : PyRef::steal(PyObject_CallFunction(
                          report, "n", static_cast<Py_ssize_t>(progress.done.load())));
            if (!reported) {
                interrupted = true;
                progress.stop = true;
            }
        }
    }
    return !interrupted && succeeded(failure);
}

} // namespace

unsigned threadCountOf(PyObject* value) {
    if (value == nullptr) {
        return 1;
    }
    if (PyBool_Check(value) != 0) {
        PyErr_SetString(PyExc_TypeError, "threads must be a whole number, got bool");
        throw PythonError();
    }
    const PyRef index = checked(PyNumber_Index(value));
    int overflow = 0;
    const long long count = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (count == -1 && PyErr_Occurred() != nullptr) {
        throw PythonError();
    }
    if (overflow != 0) {
        return checkedThreadCount(0, reprOrUnknown(index.get()));
    }
    return checkedThreadCount(count);
}

namespace {

template <class T> PyRef bytesOf(const std::vector<T>& values) {
    return PyRef::steal(
        PyBytes_FromStringAndSize(reinterpret_cast<const char*>(values.data()),
                                  static_cast<Py_ssize_t>(values.size() * sizeof(T))));
}

PyRef offsetsOf(const std::vector<std::size_t>& offsets) {
    return bytesOf(std::vector<std::int64_t>(offsets.begin(), offsets.end()));
}

PyRef daysOf(const std::vector<date>& dates) {
    std::vector<std::int64_t> days;
    days.reserve(dates.size());
    for (const date& d : dates) {
        days.push_back(epochDays(d));
    }
    return bytesOf(days);
}

// "failed", "error column" and "error": the rows without numbers, each with the column at
// fault and the message.
void setFailures(PyObject* dict, const std::vector<BookFailure>& failures) {
    setItem(dict, "failed",
            listOf(failures, [](const BookFailure& f) { return PyLong_FromSize_t(f.trade); }));
    setItem(dict, "error column", listOf(failures, [](const BookFailure& f) {
                return PyUnicode_FromString(f.error.column.c_str());
            }));
    setItem(dict, "error", listOf(failures, [](const BookFailure& f) {
                return PyUnicode_FromString(f.error.message.c_str());
            }));
}

// A bytearray of `count` items of T, not yet written, and its items: workers fill them
// without the lock, so that pages are first touched on every core and nothing is copied.
template <class T> struct NativeArray {
    PyRef buffer;
    std::span<T> items;
};

template <class T> NativeArray<T> newArray(std::size_t count) {
    PyRef buffer =
        checked(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count * sizeof(T))));
    T* items = count == 0 ? nullptr : reinterpret_cast<T*>(PyByteArray_AS_STRING(buffer.get()));
    return {std::move(buffer), std::span<T>(items, count)};
}

// A categorical column's codes, in the narrowest integer pandas keeps for that many
// categories, so that it takes them without a copy.
class CodeColumn {
public:
    CodeColumn(std::size_t rows, std::size_t categories)
        : width_(categories < 127     ? 1
                 : categories < 32767 ? 2
                                      : 4),
          array_(newArray<char>(rows * width_)) {}
    void set(std::size_t row, std::uint32_t code) {
        char* at = array_.items.data() + row * width_;
        switch (width_) {
        case 1: {
            const auto narrow = static_cast<std::int8_t>(code);
            std::memcpy(at, &narrow, 1);
            break;
        }
        case 2: {
            const auto narrow = static_cast<std::int16_t>(code);
            std::memcpy(at, &narrow, 2);
            break;
        }
        default: {
            const auto narrow = static_cast<std::int32_t>(code);
            std::memcpy(at, &narrow, 4);
        }
        }
    }
    std::size_t width() const { return width_; }
    std::span<char> bytes() const { return array_.items; }
    const PyRef& buffer() const { return array_.buffer; }
    const char* dtype() const { return width_ == 1 ? "i1" : width_ == 2 ? "i2" : "i4"; }

private:
    std::size_t width_;
    NativeArray<char> array_;
};

const char* initKeywords[] = {"conventions", "trades", "curves", "fixings", "threads", nullptr};

int bookInit(PyObject* self, PyObject* args, PyObject* kwds) {
    PyObject* conventions = nullptr;
    PyObject* trades = nullptr;
    PyObject* curves = nullptr;
    PyObject* fixings = Py_None;
    PyObject* threads = nullptr;
    if (PyArg_ParseTupleAndKeywords(args, kwds, "O!O!O!|OO", const_cast<char**>(initKeywords),
                                    &PyList_Type, &conventions, &PyDict_Type, &trades, &PyDict_Type,
                                    &curves, &fixings, &threads) == 0) {
        return -1;
    }
    if (fixings != Py_None && !PyDict_Check(fixings)) {
        PyErr_SetString(PyExc_TypeError, "fixings must be a dict or None");
        return -1;
    }
    std::vector<BookConventionsInput> sets;
    std::vector<BookTradeInput> rows;
    Book::CurveSet curveSet;
    FixingsMap fixingsMap;
    unsigned workers = 1;
    const bool converted = runGuarded([&] {
        workers = threadCountOf(threads);
        for (Py_ssize_t c = 0; c < PyList_GET_SIZE(conventions); ++c) {
            sets.push_back(conventionsOf(PyList_GET_ITEM(conventions, c)));
        }
        rows = tradesOf(trades);
        curveSet = curvesOf(curves);
        if (fixings != Py_None) {
            fixingsMap = transformFixings(fixings);
        }
    });
    if (!converted) {
        return -1;
    }
    std::shared_ptr<const Book> book;
    if (!withoutLock([&] {
            book = std::make_shared<const Book>(sets, rows, std::move(curveSet),
                                                std::move(fixingsMap), workers);
            // The rows go with the lock released: they may be large.
            std::vector<BookTradeInput>().swap(rows);
        })) {
        return -1;
    }
    void* handle = nullptr;
    if (!runGuarded([&] { handle = registerHandle(std::move(book)); })) {
        return -1;
    }
    releaseHandle(std::exchange(handleOf(self), handle));
    return 0;
}

void bookDealloc(PyObject* self) {
    releaseHandle(std::exchange(handleOf(self), nullptr));
    Py_TYPE(self)->tp_free(self);
}

PyObject* bookRepr(PyObject* self) {
    const auto book = resolveHandle<Book>(handleOf(self));
    return PyUnicode_FromFormat("<_tessarin.Book of %zd trades>",
                                book ? static_cast<Py_ssize_t>(book->size()) : Py_ssize_t{0});
}

const char* threadsKeywords[] = {"threads", nullptr};

// Makes the output of a call with `prepare(book)` under the lock, runs `work(book, workers,
// output)` without it, and returns a new dict filled by `fill(dict, output, failures)`, where
// failures is what work returned. With `report`, the work is watched: see watched().
template <class Prepare, class Work, class Fill>
PyObject* runOnBook(PyObject* self, PyObject* threads, Prepare&& prepare, Work&& work, Fill&& fill,
                    PyObject* report = nullptr, CallProgress* progress = nullptr) {
    std::shared_ptr<const Book> book;
    unsigned workers = 1;
    std::invoke_result_t<Prepare&, const Book&> output;
    std::vector<BookFailure> failures;
    if (!runGuarded([&] {
            book = requireBook(self);
            workers = threadCountOf(threads);
            output = prepare(*book);
        }) ||
        !(report != nullptr
              ? watched([&] { failures = work(*book, workers, output); }, report, *progress)
              : withoutLock([&] { failures = work(*book, workers, output); }))) {
        return nullptr;
    }
    PyRef result;
    if (!runGuarded([&] {
            result = checked(PyDict_New());
            fill(result.get(), output, failures);
            setFailures(result.get(), failures);
        })) {
        return nullptr;
    }
    return result.release();
}

// The optional thread count of a method, or false with a Python error set.
bool parseThreads(PyObject* args, PyObject* kwds, PyObject*& threads) {
    return PyArg_ParseTupleAndKeywords(args, kwds, "|O", const_cast<char**>(threadsKeywords),
                                       &threads) != 0;
}

struct PriceColumns {
    NativeArray<double> leg1;
    NativeArray<double> leg2;
    NativeArray<double> npv;
};

PyObject* bookPrice(PyObject* self, PyObject* args, PyObject* kwds) {
    PyObject* threads = nullptr;
    if (!parseThreads(args, kwds, threads)) {
        return nullptr;
    }
    return runOnBook(
        self, threads,
        [](const Book& book) {
            return PriceColumns{newArray<double>(book.size()), newArray<double>(book.size()),
                                newArray<double>(book.size())};
        },
        [](const Book& book, unsigned workers, PriceColumns& out) {
            return book.price(workers, out.leg1.items, out.leg2.items, out.npv.items);
        },
        [](PyObject* dict, const PriceColumns& out, const std::vector<BookFailure>& /*failed*/) {
            setItem(dict, "leg1", out.leg1.buffer);
            setItem(dict, "leg2", out.leg2.buffer);
            setItem(dict, "npv", out.npv.buffer);
        });
}

// The rows of a risk table summed by curve, currency and tenor, in order of first appearance.
struct LadderColumns {
    std::vector<std::uint32_t> curve;
    std::vector<std::uint32_t> currency;
    std::vector<std::uint32_t> tenor;
    std::vector<double> leg1;
    std::vector<double> leg2;
    std::vector<double> net;
};

// The rows of a book's risk table, per 1bp: values and the codes of their labels; or, when
// asked for, their sums by label.
struct RiskColumns {
    NativeArray<double> leg1;
    NativeArray<double> leg2;
    NativeArray<double> net;
    std::vector<CodeColumn> codes; // trade, curve, currency, tenor
    std::size_t rows = 0;
    std::optional<LadderColumns> ladder;
};

const char* codeNames[] = {"trade", "curve", "currency", "tenor"};

RiskColumns riskColumnsOf(const Book& book) {
    const std::size_t rows = book.riskOffsets().back();
    const BookLabels& labels = book.labels();
    RiskColumns out{
        newArray<double>(rows), newArray<double>(rows), newArray<double>(rows), {}, rows, {}};
    for (const auto* names :
         {&labels.tradeNames, &labels.curveNames, &labels.currencyNames, &labels.tenorNames}) {
        out.codes.emplace_back(rows, names->size());
    }
    return out;
}

// Writes a trade's risk to its rows, per 1bp: the per-1.00 number divided by 100.
void writeRisk(const Book& book, RiskColumns& out, std::size_t t, std::span<const double> leg1,
               std::span<const double> leg2, std::span<const double> net) {
    const std::size_t first = book.riskOffsets()[t];
    const std::span<const std::uint32_t> tenors = book.tenorCodes(t);
    const BookLabels& labels = book.labels();
    for (std::size_t j = 0; j < net.size(); ++j) {
        const std::size_t row = first + j;
        out.leg1.items[row] = leg1[j] / 100.0;
        out.leg2.items[row] = leg2[j] / 100.0;
        out.net.items[row] = net[j] / 100.0;
        out.codes[0].set(row, labels.trade[t]);
        out.codes[1].set(row, labels.curve[t]);
        out.codes[2].set(row, labels.currency[t]);
        out.codes[3].set(row, tenors[j]);
    }
}

// Closes the gaps left by trades that failed: their rows move out, the others keep order.
void dropFailedRows(const Book& book, RiskColumns& out, const std::vector<BookFailure>& failed) {
    const auto& offsets = book.riskOffsets();
    std::vector<std::span<std::byte>> columns;
    std::vector<std::size_t> widths;
    for (NativeArray<double>* values : {&out.leg1, &out.leg2, &out.net}) {
        columns.push_back(std::as_writable_bytes(values->items));
        widths.push_back(sizeof(double));
    }
    for (const CodeColumn& codes : out.codes) {
        columns.push_back(std::as_writable_bytes(codes.bytes()));
        widths.push_back(codes.width());
    }
    std::size_t kept = 0;
    std::size_t next = 0; // the first row not yet placed
    const auto keep = [&](std::size_t from, std::size_t to) {
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (to > from && kept != from) {
                std::memmove(columns[c].data() + kept * widths[c],
                             columns[c].data() + from * widths[c], (to - from) * widths[c]);
            }
        }
        kept += to - from;
    };
    for (const BookFailure& failure : failed) {
        keep(next, offsets[failure.trade]);
        next = offsets[failure.trade + 1];
    }
    keep(next, offsets.back());
    out.rows = kept;
}

// The rows of the trades that did not fail summed by label, each sum taking its rows in
// table order: the sums of the table's rows grouped by curve, currency and tenor.
LadderColumns ladderOf(const Book& book, const RiskColumns& out,
                       const std::vector<BookFailure>& failed) {
    const auto& offsets = book.riskOffsets();
    const BookLabels& labels = book.labels();
    LadderColumns ladder;
    // Per (curve, currency) met, the ladder row of each tenor code, or -1.
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<std::int64_t>> slots;
    auto failure = failed.begin();
    for (std::size_t t = 0; t + 1 < offsets.size(); ++t) {
        while (failure != failed.end() && failure->trade < t) {
            ++failure;
        }
        if ((failure != failed.end() && failure->trade == t) || offsets[t] == offsets[t + 1]) {
            continue;
        }
        const std::uint32_t curve = labels.curve[t];
        const std::uint32_t currency = labels.currency[t];
        std::vector<std::int64_t>& rowOf =
            slots.try_emplace({curve, currency}, labels.tenorNames.size(), -1).first->second;
        const std::span<const std::uint32_t> tenors = book.tenorCodes(t);
        for (std::size_t j = 0; j < tenors.size(); ++j) {
            std::int64_t& slot = rowOf[tenors[j]];
            if (slot < 0) {
                slot = static_cast<std::int64_t>(ladder.net.size());
                ladder.curve.push_back(curve);
                ladder.currency.push_back(currency);
                ladder.tenor.push_back(tenors[j]);
                ladder.leg1.push_back(0.0);
                ladder.leg2.push_back(0.0);
                ladder.net.push_back(0.0);
            }
            const auto s = static_cast<std::size_t>(slot);
            const std::size_t row = offsets[t] + j;
            ladder.leg1[s] += out.leg1.items[row];
            ladder.leg2[s] += out.leg2.items[row];
            ladder.net[s] += out.net.items[row];
        }
    }
    return ladder;
}

const char* riskKeywords[] = {"method", "threads", "progress", "ladder", nullptr};

PyObject* bookRisk(PyObject* self, PyObject* args, PyObject* kwds) {
    const char* methodName = nullptr;
    PyObject* threads = nullptr;
    PyObject* report = Py_None;
    int summed = 0;
    if (PyArg_ParseTupleAndKeywords(args, kwds, "s|OOp", const_cast<char**>(riskKeywords),
                                    &methodName, &threads, &report, &summed) == 0) {
        return nullptr;
    }
    if (report == Py_None) {
        report = nullptr;
    } else if (PyCallable_Check(report) == 0) {
        PyErr_SetString(PyExc_TypeError, "progress must be None or a callable taking the "
                                         "number of trades done");
        return nullptr;
    }
    CallProgress progress;
    const std::string name(methodName);
    if (name != "analytic" && name != "bump") {
        PyErr_Format(PyExc_ValueError, "unknown risk method '%s' (known: analytic, bump)",
                     methodName);
        return nullptr;
    }
    const RiskMethod method = name == "bump" ? RiskMethod::Bump : RiskMethod::Analytic;
    return runOnBook(
        self, threads, riskColumnsOf,
        [method, summed, counter = report != nullptr ? &progress : nullptr](
            const Book& book, unsigned workers, RiskColumns& out) {
            auto failed = book.risk(
                method, workers,
                [&](std::size_t t, std::span<const double> leg1, std::span<const double> leg2,
                    std::span<const double> net) { writeRisk(book, out, t, leg1, leg2, net); },
                counter);
            if (summed != 0) {
                out.ladder = ladderOf(book, out, failed);
            } else {
                dropFailedRows(book, out, failed);
            }
            return failed;
        },
        [](PyObject* dict, const RiskColumns& out, const std::vector<BookFailure>& /*failed*/) {
            if (out.ladder) {
                const LadderColumns& ladder = *out.ladder;
                const auto code = [](std::uint32_t c) { return PyLong_FromUnsignedLong(c); };
                const auto value = [](double v) { return PyFloat_FromDouble(v); };
                setItem(dict, "rows", PyRef::steal(PyLong_FromSize_t(ladder.net.size())));
                setItem(dict, "curve", listOf(ladder.curve, code));
                setItem(dict, "currency", listOf(ladder.currency, code));
                setItem(dict, "tenor", listOf(ladder.tenor, code));
                setItem(dict, "leg1", listOf(ladder.leg1, value));
                setItem(dict, "leg2", listOf(ladder.leg2, value));
                setItem(dict, "net", listOf(ladder.net, value));
                return;
            }
            setItem(dict, "rows", PyRef::steal(PyLong_FromSize_t(out.rows)));
            setItem(dict, "leg1", out.leg1.buffer);
            setItem(dict, "leg2", out.leg2.buffer);
            setItem(dict, "net", out.net.buffer);
            PyRef dtypes = checked(PyDict_New());
            for (std::size_t c = 0; c < out.codes.size(); ++c) {
                setItem(dict, codeNames[c], out.codes[c].buffer());
                setItem(dtypes.get(), codeNames[c],
                        PyRef::steal(PyUnicode_FromString(out.codes[c].dtype())));
            }
            setItem(dict, "dtypes", std::move(dtypes));
        },
        report, &progress);
}

PyObject* bookCashflows(PyObject* self, PyObject* args, PyObject* kwds) {
    PyObject* threads = nullptr;
    if (!parseThreads(args, kwds, threads)) {
        return nullptr;
    }
    return runOnBook(
        self, threads, [](const Book& /*book*/) { return BookCashFlows{}; },
        [](const Book& book, unsigned workers, BookCashFlows& flows) {
            flows = book.cashflows(workers);
            return failuresOf(flows.errors);
        },
        [](PyObject* dict, const BookCashFlows& flows, const std::vector<BookFailure>& /*failed*/) {
            setItem(dict, "offsets", offsetsOf(flows.offsets));
            setItem(dict, "leg", bytesOf(flows.leg));
            setItem(dict, "accrual start", daysOf(flows.accrualStartDates));
            setItem(dict, "accrual end", daysOf(flows.accrualEndDates));
            setItem(dict, "payment", daysOf(flows.paymentDates));
            setItem(dict, "day count fraction", bytesOf(flows.dayCountFractions));
            setItem(dict, "notional", bytesOf(flows.notionals));
            setItem(dict, "discount factor", bytesOf(flows.discountFactors));
            setItem(dict, "rate", bytesOf(flows.rates));
            setItem(dict, "margin", bytesOf(flows.margins));
            setItem(dict, "cash flow", bytesOf(flows.flows));
            setItem(dict, "present value", bytesOf(flows.presentValues));
        });
}

// Per trade: the currency of the first leg and whether it is paid, or None when unbuilt.
PyObject* bookLegs(PyObject* self, PyObject* /*unused*/) {
    PyRef result;
    if (!runGuarded([&] {
            const auto book = requireBook(self);
            const auto n = static_cast<Py_ssize_t>(book->size());
            PyRef currencies = checked(PyList_New(n));
            PyRef paid = checked(PyList_New(n));
            // A book has a few currencies and four pairs of flags: each is made once and
            // shared by the trades that have it.
            std::vector<std::pair<std::string_view, PyRef>> names;
            std::array<PyRef, 4> flags;
            for (Py_ssize_t t = 0; t < n; ++t) {
                const auto& swap = book->swaps()[static_cast<std::size_t>(t)];
                if (!swap) {
                    PyList_SET_ITEM(currencies.get(), t, Py_NewRef(Py_None));
                    PyList_SET_ITEM(paid.get(), t, Py_NewRef(Py_None));
                    continue;
                }
                const std::string& code = swap->legs()[0].currency;
                auto name = std::find_if(names.begin(), names.end(),
                                         [&](const auto& known) { return known.first == code; });
                if (name == names.end()) {
                    PyRef text = checked(PyUnicode_FromString(code.c_str()));
                    name = names.emplace(names.end(), code, std::move(text));
                }
                const bool first = swap->legs()[0].isPaid;
                const bool second = swap->legs()[1].isPaid;
                PyRef& pair = flags[(first ? 2U : 0U) + (second ? 1U : 0U)];
                if (!pair) {
                    pair = checked(
                        PyTuple_Pack(2, first ? Py_True : Py_False, second ? Py_True : Py_False));
                }
                PyList_SET_ITEM(currencies.get(), t, Py_NewRef(name->second.get()));
                PyList_SET_ITEM(paid.get(), t, Py_NewRef(pair.get()));
            }
            result = checked(PyDict_New());
            setItem(result.get(), "currency", std::move(currencies));
            setItem(result.get(), "paid", std::move(paid));
            setFailures(result.get(), failuresOf(book->buildErrors()));
        })) {
        return nullptr;
    }
    return result.release();
}

// The names the codes of risk rows stand for: "trade", "curve", "currency" and "tenor".
PyObject* bookLabels(PyObject* self, PyObject* /*unused*/) {
    PyRef result;
    if (!runGuarded([&] {
            const auto book = requireBook(self);
            const BookLabels& labels = book->labels();
            const auto text = [](const std::string& name) {
                return PyUnicode_FromStringAndSize(name.data(),
                                                   static_cast<Py_ssize_t>(name.size()));
            };
            result = checked(PyDict_New());
            setItem(result.get(), "trade", listOf(labels.tradeNames, text));
            setItem(result.get(), "curve", listOf(labels.curveNames, text));
            setItem(result.get(), "currency", listOf(labels.currencyNames, text));
            setItem(result.get(), "tenor", listOf(labels.tenorNames, text));
        })) {
        return nullptr;
    }
    return result.release();
}

// Reads a list of floats.
std::vector<double> floatsOf(PyObject* list, const char* what) {
    if (!PyList_Check(list)) {
        throw std::invalid_argument(std::string("Error, ") + what + " must be a list of floats.");
    }
    std::vector<double> values;
    values.reserve(static_cast<std::size_t>(PyList_GET_SIZE(list)));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
        values.push_back(numberOf(PyList_GET_ITEM(list, i)));
    }
    return values;
}

const char* reboundKeywords[] = {"curves", "fixings", "threads", nullptr};

// The book's trades on other curves and fixings, as a new book; nothing is built again.
PyObject* bookRebound(PyObject* self, PyObject* args, PyObject* kwds) {
    PyObject* curves = nullptr;
    PyObject* fixings = Py_None;
    PyObject* threads = nullptr;
    if (PyArg_ParseTupleAndKeywords(args, kwds, "O!|OO", const_cast<char**>(reboundKeywords),
                                    &PyDict_Type, &curves, &fixings, &threads) == 0) {
        return nullptr;
    }
    if (fixings != Py_None && !PyDict_Check(fixings)) {
        PyErr_SetString(PyExc_TypeError, "fixings must be a dict or None");
        return nullptr;
    }
    std::shared_ptr<const Book> base;
    Book::CurveSet curveSet;
    FixingsMap fixingsMap;
    unsigned workers = 1;
    if (!runGuarded([&] {
            base = requireBook(self);
            workers = threadCountOf(threads);
            curveSet = curvesOf(curves);
            if (fixings != Py_None) {
                fixingsMap = transformFixings(fixings);
            }
        })) {
        return nullptr;
    }
    std::shared_ptr<const Book> book;
    if (!withoutLock([&] {
            book = std::make_shared<const Book>(*base, std::move(curveSet), std::move(fixingsMap),
                                                workers);
        })) {
        return nullptr;
    }
    PyRef result = PyRef::steal(Py_TYPE(self)->tp_alloc(Py_TYPE(self), 0));
    if (!result) {
        return nullptr;
    }
    if (!runGuarded([&] { handleOf(result.get()) = registerHandle(std::move(book)); })) {
        return nullptr;
    }
    return result.release();
}

const char* explainKeywords[] = {"moves", "threads", nullptr};

struct ExplainColumns {
    NativeArray<double> delta;
    NativeArray<double> gamma;
    std::vector<std::size_t> offsets;
    std::vector<std::int32_t> tenors;
};

// Per risk row, delta and gamma of the quote moves {curve id: (changes, Jacobian slope)}.
PyObject* bookExplainTerms(PyObject* self, PyObject* args, PyObject* kwds) {
    PyObject* moves = nullptr;
    PyObject* threads = nullptr;
    if (PyArg_ParseTupleAndKeywords(args, kwds, "O!|O", const_cast<char**>(explainKeywords),
                                    &PyDict_Type, &moves, &threads) == 0) {
        return nullptr;
    }
    std::unordered_map<std::string, QuoteMove> parsed;
    if (!runGuarded([&] {
            PyObject* key = nullptr;
            PyObject* value = nullptr;
            Py_ssize_t position = 0;
            while (PyDict_Next(moves, &position, &key, &value) != 0) {
                if (!PyTuple_Check(value) || PyTuple_GET_SIZE(value) != 2) {
                    throw std::invalid_argument("Error, a move is a pair (changes, slope).");
                }
                parsed[textOf(key)] = {floatsOf(PyTuple_GET_ITEM(value, 0), "changes"),
                                       floatsOf(PyTuple_GET_ITEM(value, 1), "slope")};
            }
        })) {
        return nullptr;
    }
    return runOnBook(
        self, threads,
        [](const Book& book) {
            const std::size_t rows = book.riskOffsets().back();
            ExplainColumns out{
                newArray<double>(rows), newArray<double>(rows), book.riskOffsets(), {}};
            out.tenors.reserve(rows);
            for (std::size_t t = 0; t < book.size(); ++t) {
                for (const std::uint32_t code : book.tenorCodes(t)) {
                    out.tenors.push_back(static_cast<std::int32_t>(code));
                }
            }
            return out;
        },
        [&parsed](const Book& book, unsigned workers, ExplainColumns& out) {
            return book.explainTerms(parsed, workers, out.delta.items, out.gamma.items);
        },
        [](PyObject* dict, const ExplainColumns& out, const std::vector<BookFailure>& /*failed*/) {
            setItem(dict, "delta", out.delta.buffer);
            setItem(dict, "gamma", out.gamma.buffer);
            setItem(dict, "offsets", offsetsOf(out.offsets));
            setItem(dict, "tenor", bytesOf(out.tenors));
        });
}

const char* hessianKeywords[] = {"per_trade", "threads", nullptr};

struct HessianOutput {
    BookPillarHessians perTrade;
    std::unordered_map<std::string, CurvePillarHessian> summed;
};

// Pillar gradients and Hessians of the NPVs, per trade or summed by curve id.
PyObject* bookPillarHessians(PyObject* self, PyObject* args, PyObject* kwds) {
    int perTrade = 0;
    PyObject* threads = nullptr;
    if (PyArg_ParseTupleAndKeywords(args, kwds, "|pO", const_cast<char**>(hessianKeywords),
                                    &perTrade, &threads) == 0) {
        return nullptr;
    }
    return runOnBook(
        self, threads, [](const Book& /*book*/) { return HessianOutput{}; },
        [perTrade](const Book& book, unsigned workers, HessianOutput& out) {
            std::vector<BookFailure> failed;
            if (perTrade != 0) {
                out.perTrade = book.pillarHessians(workers, failed);
            } else {
                out.summed = book.summedPillarHessians(workers, failed);
            }
            return failed;
        },
        [perTrade](PyObject* dict, const HessianOutput& out,
                   const std::vector<BookFailure>& /*failed*/) {
            if (perTrade != 0) {
                setItem(dict, "offsets", offsetsOf(out.perTrade.offsets));
                setItem(dict, "square offsets", offsetsOf(out.perTrade.squareOffsets));
                setItem(dict, "gradient", bytesOf(out.perTrade.gradient));
                setItem(dict, "hessian", bytesOf(out.perTrade.hessian));
                return;
            }
            PyRef curves = checked(PyDict_New());
            for (const auto& [id, sums] : out.summed) {
                PyRef entry = checked(PyDict_New());
                setItem(entry.get(), "gradient", bytesOf(sums.gradient));
                setItem(entry.get(), "hessian", bytesOf(sums.hessian));
                setItem(curves.get(), id.c_str(), entry);
            }
            setItem(dict, "curves", std::move(curves));
        });
}

const char* periodKeywords[] = {"start", "end", "threads", nullptr};

// Two dates given as days since 1970-01-01.
std::pair<date, date> periodOf(long long start, long long end) {
    const std::optional<date> first = dateFromEpochDays(start);
    const std::optional<date> last = dateFromEpochDays(end);
    if (!first || !last || end < start) {
        throw std::invalid_argument("Error, a period runs between two dates, the end last.");
    }
    return {*first, *last};
}

// Per trade, the cash paid after start and on or before end.
PyObject* bookCash(PyObject* self, PyObject* args, PyObject* kwds) {
    long long start = 0;
    long long end = 0;
    PyObject* threads = nullptr;
    if (PyArg_ParseTupleAndKeywords(args, kwds, "LL|O", const_cast<char**>(periodKeywords), &start,
                                    &end, &threads) == 0) {
        return nullptr;
    }
    return runOnBook(
        self, threads, [](const Book& book) { return newArray<double>(book.size()); },
        [start, end](const Book& book, unsigned workers, NativeArray<double>& out) {
            const auto [from, to] = periodOf(start, end);
            return book.cash(from, to, workers, out.items);
        },
        [](PyObject* dict, const NativeArray<double>& out,
           const std::vector<BookFailure>& /*failed*/) { setItem(dict, "cash", out.buffer); });
}

// {index: (days since 1970-01-01, values)} of the fixings in [start, end) the book lacks,
// from the curves' overnight forwards.
const char* datesKeywords[] = {"start", "end", nullptr};

PyObject* bookForwardFixings(PyObject* self, PyObject* args, PyObject* kwds) {
    long long start = 0;
    long long end = 0;
    if (PyArg_ParseTupleAndKeywords(args, kwds, "LL", const_cast<char**>(datesKeywords), &start,
                                    &end) == 0) {
        return nullptr;
    }
    PyRef result;
    if (!runGuarded([&] {
            const auto book = requireBook(self);
            const auto [from, to] = periodOf(start, end);
            const FixingsMap fixings = book->forwardFixings(from, to);
            result = checked(PyDict_New());
            for (const auto& [index, history] : fixings) {
                setItem(result.get(), index.c_str(),
                        PyRef::steal(PyTuple_Pack(2, daysOf(history.first).get(),
                                                  bytesOf(history.second).get())));
            }
        })) {
        return nullptr;
    }
    return result.release();
}

PyMethodDef bookMethods[] = {
    {"price", methodFunction(bookPrice), METH_VARARGS | METH_KEYWORDS,
     "Leg values and NPV of every trade: float64 buffers and per-trade errors."},
    {"risk", methodFunction(bookRisk), METH_VARARGS | METH_KEYWORDS,
     "Key-rate risk of every priced trade per 1bp, one row per curve instrument: values and "
     "the codes of their labels. progress(done) is called every 0.1 s; an error it raises, or "
     "a signal, stops the call. With ladder=True, the rows summed by curve, currency and "
     "tenor code instead, in order of first appearance, each sum in row order."},
    {"cashflows", methodFunction(bookCashflows), METH_VARARGS | METH_KEYWORDS,
     "Priced periods of every trade, flattened with per-trade offsets."},
    {"trades", methodFunction(bookLegs), METH_NOARGS,
     "Per trade: leg1 currency, paid flags of both legs, and the build errors."},
    {"labels", methodFunction(bookLabels), METH_NOARGS,
     "The names the codes of risk rows stand for."},
    {"rebound", methodFunction(bookRebound), METH_VARARGS | METH_KEYWORDS,
     "The same trades on other curves and fixings, as a new book; nothing is built again."},
    {"explain_terms", methodFunction(bookExplainTerms), METH_VARARGS | METH_KEYWORDS,
     "Per risk row, delta and gamma of moves {curve id: (changes, Jacobian slope)}, with the "
     "rows' offsets per trade and tenor codes."},
    {"pillar_hessians", methodFunction(bookPillarHessians), METH_VARARGS | METH_KEYWORDS,
     "Gradients and Hessians of the NPVs in the pillar rates, per trade or summed by curve."},
    {"cash", methodFunction(bookCash), METH_VARARGS | METH_KEYWORDS,
     "Per trade, the cash paid after start and on or before end (days since 1970-01-01)."},
    {"forward_fixings", methodFunction(bookForwardFixings), METH_VARARGS | METH_KEYWORDS,
     "The fixings in [start, end) the book lacks, from its curves' overnight forwards."},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef bookMembers[] = {
    {nullptr, 0, 0, 0, nullptr},
};

PyTypeObject bookType = emptyTypeObject();

} // namespace

std::shared_ptr<const Book> bookOf(PyObject* object) {
    return PyObject_TypeCheck(object, &bookType) != 0 ? requireBook(object) : nullptr;
}

int addBookType(PyObject* module) {
    fillHandleType(bookType, "_tessarin.Book", bookDealloc, bookRepr, bookMethods, bookMembers,
                   bookInit);
    bookType.tp_doc = "Swaps built once from columns, priced and risked on worker threads.";
    if (PyType_Ready(&bookType) < 0) {
        return -1;
    }
    return PyModule_AddObjectRef(module, "Book", reinterpret_cast<PyObject*>(&bookType));
}

} // namespace tsr
