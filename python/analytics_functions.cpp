#include "python/analytics_functions.hpp"

#include "curves/bootstrap.hpp"
#include "curves/curve_rates.hpp"
#include "curves/yield_curve.hpp"
#include "dates/date_arithmetic.hpp"
#include "pricing/swap_analytics.hpp"
#include "products/product_interest_rate_swap.hpp"
#include "python/entry_guard.hpp"
#include "python/handle_registry.hpp"
#include "python/py_datetime.hpp"
#include "python/py_list.hpp"
#include "python/python_types.hpp"
#include "python/swap_inputs.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tsr {

namespace {

std::shared_ptr<const YieldCurve> curveOf(PyObject* object) {
    auto curve = resolveHandle<YieldCurve>(handleOf(object));
    if (!curve) {
        throw std::runtime_error("Error, the yield curve is not initialised.");
    }
    return curve;
}

std::shared_ptr<const ProductInterestRateSwap> swapOf(PyObject* object) {
    auto swap = resolveHandle<ProductInterestRateSwap>(handleOf(object));
    if (!swap) {
        throw std::runtime_error("Error, the interest rate swap is not initialised.");
    }
    return swap;
}

// runGuarded, except that std::invalid_argument, which these functions throw for a wrong
// argument value, becomes a ValueError.
template <class F> bool runChecked(F&& body) {
    return runGuarded([&] {
        try {
            body();
        } catch (const std::invalid_argument& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
            throw PythonError();
        }
    });
}

template <class F> PyObject* floatResult(F&& compute) {
    double value = 0.0;
    if (!runChecked([&] { value = compute(); })) {
        return nullptr;
    }
    return PyFloat_FromDouble(value);
}

// Holds a buffer for the length of a call.
class BufferView {
public:
    BufferView() = default;
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;
    ~BufferView() {
        if (held_) {
            PyBuffer_Release(&view_);
        }
    }
    bool acquire(PyObject* object, int flags) {
        held_ = PyObject_GetBuffer(object, &view_, flags) == 0;
        return held_;
    }
    const Py_buffer& view() const { return view_; }

private:
    Py_buffer view_{};
    bool held_ = false;
};

// A native 8-byte item of the kind the format's last letter names ("q"/"l" integers, "d").
bool hasFormat(const Py_buffer& view, std::string_view kinds) {
    if (view.itemsize != 8 || view.format == nullptr) {
        return false;
    }
    const std::string_view format(view.format);
    if (format.empty() || format.size() > 2) {
        return false;
    }
    if (format.size() == 2 && format[0] != '@' && format[0] != '=' && format[0] != '<') {
        return false;
    }
    return kinds.find(format.back()) != std::string_view::npos;
}

// The date of a day number counted from 1970-01-01, as datetime64[D] holds it.
date dateOfDayNumber(std::int64_t days, std::size_t position) {
    if (const std::optional<date> day = dateFromEpochDays(days)) {
        return *day;
    }
    throw std::invalid_argument("Error, date " + std::to_string(position) +
                                (days == INT64_MIN ? std::string(" is not a date (NaT).")
                                                   : " lies outside the years 1400 to 9999."));
}

// Dates in order mostly share their month with the one before, so the month is kept: reading
// a datetime.date adds its day to the month's first day, and writing one takes the day from
// the distance to it, without a calendar conversion for every date.
class MonthCache {
public:
    date read(PyObject* object) {
        const PyDateParts parts = pyDateParts(object);
        if (parts.year != year_ || parts.month != month_ || first_.is_special()) {
            first_ = date(parts.year, parts.month, 1); // years before 1400 throw here
            year_ = parts.year;
            month_ = parts.month;
        }
        return first_ + boost::gregorian::days(parts.day - 1);
    }

    PyRef write(const date& d) {
        const auto n = static_cast<std::int64_t>(d.day_number());
        if (first_.is_special() || n < firstNumber_ || n > lastNumber_) {
            const auto ymd = d.year_month_day();
            year_ = ymd.year;
            month_ = ymd.month;
            first_ = date(ymd.year, ymd.month, 1);
            firstNumber_ = static_cast<std::int64_t>(first_.day_number());
            lastNumber_ = firstNumber_ + first_.end_of_month().day() - 1;
        }
        return newPyDate(year_, month_, static_cast<int>(n - firstNumber_) + 1);
    }

private:
    date first_;
    int year_ = 0;
    int month_ = 0;
    std::int64_t firstNumber_ = 0;
    std::int64_t lastNumber_ = -1;
};

PyObject* curveZeroRate(PyObject* /*module*/, PyObject* args) {
    PyTypeObject* dateType = pyDateType();
    PyObject* curve = nullptr;
    PyObject* when = nullptr;
    if (dateType == nullptr || PyArg_ParseTuple(args, "O!O!:curve_zero_rate", yieldCurveType(),
                                                &curve, dateType, &when) == 0) {
        return nullptr;
    }
    return floatResult([&] { return zeroRate(*curveOf(curve), pyDateToDate(when)); });
}

PyObject* curveRepriced(PyObject* /*module*/, PyObject* args) {
    PyObject* curve = nullptr;
    if (PyArg_ParseTuple(args, "O!:curve_repriced", yieldCurveType(), &curve) == 0) {
        return nullptr;
    }
    PyObject* result = nullptr;
    runGuarded([&] {
        result = listOf(repricedQuotes(*curveOf(curve)), [](double quote) {
                     return PyRef::steal(PyFloat_FromDouble(quote));
                 }).release();
    });
    return result;
}

PyObject* curveForwardRate(PyObject* /*module*/, PyObject* args) {
    PyTypeObject* dateType = pyDateType();
    PyObject* curve = nullptr;
    PyObject* start = nullptr;
    PyObject* end = nullptr;
    const char* dayCount = nullptr;
    if (dateType == nullptr ||
        PyArg_ParseTuple(args, "O!O!O!s:curve_forward_rate", yieldCurveType(), &curve, dateType,
                         &start, dateType, &end, &dayCount) == 0) {
        return nullptr;
    }
    return floatResult([&] {
        const DayCounter counter = dayCounterNamed(dayCount);
        return forwardRate(*curveOf(curve), pyDateToDate(start), pyDateToDate(end), counter);
    });
}

PyObject* curveDfs(PyObject* /*module*/, PyObject* args) {
    PyObject* curve = nullptr;
    PyObject* dates = nullptr;
    if (pyDateType() == nullptr ||
        PyArg_ParseTuple(args, "O!O:curve_dfs", yieldCurveType(), &curve, &dates) == 0) {
        return nullptr;
    }
    const PyRef items =
        PyRef::steal(PySequence_Fast(dates, "curve_dfs expects a sequence of datetime.date"));
    if (!items) {
        return nullptr;
    }
    PyObject* result = nullptr;
    runGuarded([&] {
        const auto yieldCurve = curveOf(curve);
        const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
        PyObject** borrowed = PySequence_Fast_ITEMS(items.get());
        PyRef list = checked(PyList_New(n));
        MonthCache months;
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (!isPyDate(borrowed[i])) {
                // repr may run Python code; the item is held while it does.
                const PyRef item = PyRef::borrow(borrowed[i]);
                PyErr_Format(PyExc_TypeError, "curve_dfs: item %zd is not a datetime.date: %R", i,
                             item.get());
                throw PythonError();
            }
            PyObject* value = PyFloat_FromDouble(yieldCurve->df(months.read(borrowed[i])));
            if (value == nullptr) {
                throw PythonError();
            }
            PyList_SET_ITEM(list.get(), i, value);
        }
        result = list.release();
    });
    return result;
}

PyObject* curveDfsDays(PyObject* /*module*/, PyObject* args) {
    PyObject* curve = nullptr;
    PyObject* days = nullptr;
    PyObject* out = nullptr;
    if (PyArg_ParseTuple(args, "O!OO:curve_dfs_days", yieldCurveType(), &curve, &days, &out) == 0) {
        return nullptr;
    }
    BufferView input;
    BufferView output;
    const bool acquired = input.acquire(days, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) &&
                          output.acquire(out, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | PyBUF_WRITABLE);
    // A buffer of the wrong kind (read-only, strided, or none) is one error, whatever the
    // exporter raised; running out of memory stays what it is.
    if ((!acquired && PyErr_ExceptionMatches(PyExc_MemoryError) == 0) ||
        (acquired && (!hasFormat(input.view(), "lq") || !hasFormat(output.view(), "d") ||
                      input.view().len != output.view().len))) {
        PyErr_Clear();
        PyErr_SetString(PyExc_TypeError,
                        "curve_dfs_days expects contiguous int64 day numbers and a writable "
                        "float64 buffer of the same length");
        return nullptr;
    }
    if (!acquired) {
        return nullptr;
    }
    const bool done = runChecked([&] {
        const auto yieldCurve = curveOf(curve);
        const auto count = static_cast<std::size_t>(input.view().len / 8);
        const auto* dayNumbers = static_cast<const std::int64_t*>(input.view().buf);
        auto* values = static_cast<double*>(output.view().buf);
        std::exception_ptr failure;
        // The curve is immutable and held here; the loop touches no Python object.
        Py_BEGIN_ALLOW_THREADS;
        try {
            for (std::size_t i = 0; i < count; ++i) {
                values[i] = yieldCurve->df(dateOfDayNumber(dayNumbers[i], i));
            }
        } catch (...) {
            failure = std::current_exception();
        }
        Py_END_ALLOW_THREADS;
        if (failure) {
            std::rethrow_exception(failure);
        }
    });
    return done ? Py_NewRef(Py_None) : nullptr;
}

// irs_par_rate, irs_annuity and irs_dv01 take (swap, curve[, fixings]) and price on the one
// curve, as IRS.price does.
template <double (*analytic)(const std::shared_ptr<const Product>&, CurveMap&, const FixingsMap&)>
PyObject* swapAnalytic(PyObject* /*module*/, PyObject* args) {
    PyObject* swap = nullptr;
    PyObject* curve = nullptr;
    PyObject* fixings = Py_None;
    if (PyArg_ParseTuple(args, "O!O!|O", interestRateSwapType(), &swap, yieldCurveType(), &curve,
                         &fixings) == 0) {
        return nullptr;
    }
    if (fixings != Py_None && !PyDict_Check(fixings)) {
        PyErr_SetString(PyExc_TypeError, "fixings must be a dict or None");
        return nullptr;
    }
    return floatResult([&] {
        const auto product = swapOf(swap);
        const auto yieldCurve = curveOf(curve);
        CurveMap curves = singleCurveMap(*product, *yieldCurve);
        const FixingsMap fixingsMap = fixings != Py_None ? transformFixings(fixings) : FixingsMap();
        return analytic(product, curves, fixingsMap);
    });
}

double annuityIgnoringFixings(const std::shared_ptr<const Product>& product, CurveMap& curves,
                              const FixingsMap& /*fixings*/) {
    return annuity(product, curves);
}

// The days straight into a list of datetime.date; an empty walk is None, as the tree gives.
PyRef dateList(const std::vector<date>& days) {
    if (days.empty()) {
        return PyRef::borrow(Py_None);
    }
    MonthCache months;
    return listOf(days, [&](const date& day) { return months.write(day); });
}

PyObject* swapRequiredFixings(PyObject* /*module*/, PyObject* args) {
    PyTypeObject* dateType = pyDateType();
    PyObject* swap = nullptr;
    PyObject* when = nullptr;
    if (dateType == nullptr ||
        PyArg_ParseTuple(args, "O!O!:irs_required_fixings", interestRateSwapType(), &swap, dateType,
                         &when) == 0) {
        return nullptr;
    }
    PyObject* result = nullptr;
    runGuarded(
        [&] { result = requiredFixingsObject(*swapOf(swap), pyDateToDate(when)).release(); });
    return result;
}

// Floats as text tables show them: fixed decimals, the whole part grouped by thousands with
// commas when asked, and every value within `zero` of zero shown as zero (so never "-0.00").
// Each is the text of Python's format(value, ",.Nf") or ".Nf": both round the exact binary
// value correctly.
PyObject* formatFloats(PyObject* /*module*/, PyObject* args) {
    PyObject* values = nullptr;
    int decimals = 0;
    int grouped = 0;
    double zero = 0.0;
    if (PyArg_ParseTuple(args, "Oipd:format_floats", &values, &decimals, &grouped, &zero) == 0) {
        return nullptr;
    }
    BufferView input;
    const bool acquired = input.acquire(values, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT);
    if ((!acquired && PyErr_ExceptionMatches(PyExc_MemoryError) == 0) ||
        (acquired && (!hasFormat(input.view(), "d") || decimals < 0 || decimals > 17))) {
        PyErr_Clear();
        PyErr_SetString(PyExc_TypeError, "format_floats expects a contiguous float64 buffer "
                                         "and 0 to 17 decimals");
        return nullptr;
    }
    if (!acquired) {
        return nullptr;
    }
    const auto count = static_cast<Py_ssize_t>(input.view().len / 8);
    const auto* data = static_cast<const double*>(input.view().buf);
    PyRef out = PyRef::steal(PyList_New(count));
    if (!out) {
        return nullptr;
    }
    // The largest double has 309 whole digits: with commas, a sign and 17 decimals, 432 bytes.
    std::array<char, 448> digits{};
    std::array<char, 448> text{};
    for (Py_ssize_t i = 0; i < count; ++i) {
        const double value = std::abs(data[i]) < zero ? 0.0 : data[i];
        std::string_view shown;
        if (std::isnan(value)) {
            shown = "nan";
        } else {
            const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value,
                                           std::chars_format::fixed, decimals)
                                 .ptr;
            shown = std::string_view(digits.data(), static_cast<std::size_t>(end - digits.data()));
            if (grouped != 0 && std::isfinite(value)) {
                const std::size_t sign = shown.front() == '-' ? 1 : 0;
                const std::size_t whole = std::min(shown.find('.'), shown.size()) - sign;
                char* next = text.data();
                next = std::copy_n(shown.data(), sign, next);
                for (std::size_t k = 0; k < whole; ++k) {
                    if (k != 0 && (whole - k) % 3 == 0) {
                        *next++ = ',';
                    }
                    *next++ = shown[sign + k];
                }
                next = std::copy(shown.begin() + static_cast<std::ptrdiff_t>(sign + whole),
                                 shown.end(), next);
                shown = std::string_view(text.data(), static_cast<std::size_t>(next - text.data()));
            }
        }
        PyObject* cell =
            PyUnicode_FromStringAndSize(shown.data(), static_cast<Py_ssize_t>(shown.size()));
        if (cell == nullptr) {
            return nullptr;
        }
        PyList_SET_ITEM(out.get(), i, cell);
    }
    return out.release();
}

// A text table's lines: each column padded with spaces to its widest cell (counted in code
// points), numbers right-aligned and text left-aligned, two spaces between columns, and the
// trailing whitespace of each line dropped as str.rstrip() drops it. The rule under the
// header keeps its trailing spaces.
class TextTable {
public:
    TextTable(PyObject* title, PyObject* headers, PyObject* columns, PyObject* numeric)
        : title_(title), headers_(headers), columns_(columns) {
        // The numeric columns first: reading them may run Python code, and once the widths
        // are taken nothing may change the lists.
        const std::vector<Py_ssize_t> numbers = indices(numeric);
        const Py_ssize_t count = PyList_GET_SIZE(headers);
        if (PyList_GET_SIZE(columns) != count) {
            fail(PyExc_ValueError, "format_table expects one column per header");
        }
        maxChar_ = PyUnicode_MAX_CHAR_VALUE(title);
        for (Py_ssize_t j = 0; j < count; ++j) {
            PyObject* header = PyList_GET_ITEM(headers, j);
            PyObject* cells = PyList_GET_ITEM(columns, j);
            if (!PyUnicode_Check(header) || !PyList_Check(cells)) {
                fail(PyExc_TypeError, "format_table expects str headers and lists of str cells");
            }
            if (j == 0) {
                rows_ = PyList_GET_SIZE(cells);
            } else if (PyList_GET_SIZE(cells) != rows_) {
                fail(PyExc_ValueError, "format_table expects columns of one length");
            }
            Py_ssize_t width = PyUnicode_GET_LENGTH(header);
            maxChar_ = std::max(maxChar_, PyUnicode_MAX_CHAR_VALUE(header));
            for (Py_ssize_t i = 0; i < rows_; ++i) {
                PyObject* cell = PyList_GET_ITEM(cells, i);
                if (!PyUnicode_Check(cell)) {
                    fail(PyExc_TypeError,
                         "format_table expects str headers and lists of str cells");
                }
                width = std::max(width, PyUnicode_GET_LENGTH(cell));
                maxChar_ = std::max(maxChar_, PyUnicode_MAX_CHAR_VALUE(cell));
            }
            widths_.push_back(width);
            lineWidth_ += width + (j == 0 ? 0 : 2);
        }
        right_.assign(static_cast<std::size_t>(count), false);
        for (const Py_ssize_t j : numbers) {
            if (j >= 0 && j < count) {
                right_[static_cast<std::size_t>(j)] = true;
            }
        }
    }

    PyRef text() {
        // Title, header, rule, rows, one line each.
        Py_ssize_t size = PyUnicode_GET_LENGTH(title_) + 1 + kept(-1) + 1 + lineWidth_;
        for (Py_ssize_t i = 0; i < rows_; ++i) {
            size += 1 + kept(i);
        }
        PyRef out = checked(PyUnicode_New(size, maxChar_));
        kind_ = PyUnicode_KIND(out.get());
        data_ = PyUnicode_DATA(out.get());
        copy(title_, PyUnicode_GET_LENGTH(title_));
        fill('\n', 1);
        line(-1, kept(-1));
        fill('\n', 1);
        for (std::size_t j = 0; j < widths_.size(); ++j) {
            fill(' ', j == 0 ? 0 : 2);
            fill('-', widths_[j]);
        }
        for (Py_ssize_t i = 0; i < rows_; ++i) {
            fill('\n', 1);
            line(i, kept(i));
        }
        if (maxChar_ < 128) {
            return out;
        }
        // Stripped whitespace may have held the widest characters: the text is made again
        // in the narrowest form its characters allow, as every str must be.
        return checked(PyUnicode_FromKindAndData(kind_, data_, size));
    }

private:
    [[noreturn]] static void fail(PyObject* type, const char* message) {
        PyErr_SetString(type, message);
        throw PythonError();
    }

    static std::vector<Py_ssize_t> indices(PyObject* numeric) {
        const PyRef items = checked(PySequence_Fast(numeric, "format_table expects a sequence "
                                                             "of numeric column indices"));
        std::vector<Py_ssize_t> result;
        for (Py_ssize_t k = 0; k < PySequence_Fast_GET_SIZE(items.get()); ++k) {
            // Held: an index's own code may empty the list it came from.
            const PyRef item = PyRef::borrow(PySequence_Fast_GET_ITEM(items.get(), k));
            result.push_back(PyNumber_AsSsize_t(item.get(), PyExc_OverflowError));
            if (result.back() == -1 && PyErr_Occurred() != nullptr) {
                throw PythonError();
            }
        }
        return result;
    }

    static PyRef checked(PyObject* object) {
        if (object == nullptr) {
            throw PythonError();
        }
        return PyRef::steal(object);
    }

    // Row i's cell of column j; row -1 is the header.
    PyObject* cell(Py_ssize_t i, std::size_t j) const {
        const auto column = static_cast<Py_ssize_t>(j);
        return i < 0 ? PyList_GET_ITEM(headers_, column)
                     : PyList_GET_ITEM(PyList_GET_ITEM(columns_, column), i);
    }

    // Where the text of column j starts in a line, padding before it included.
    Py_ssize_t start(std::size_t j) const {
        Py_ssize_t at = 0;
        for (std::size_t k = 0; k < j; ++k) {
            at += widths_[k] + 2;
        }
        return at;
    }

    // The length of line i once its trailing whitespace is dropped.
    Py_ssize_t kept(Py_ssize_t i) const {
        for (std::size_t j = widths_.size(); j-- > 0;) {
            PyObject* text = cell(i, j);
            const int kind = PyUnicode_KIND(text);
            const void* data = PyUnicode_DATA(text);
            for (Py_ssize_t k = PyUnicode_GET_LENGTH(text); k-- > 0;) {
                if (!Py_UNICODE_ISSPACE(PyUnicode_READ(kind, data, k))) {
                    const Py_ssize_t pad = right_[j] ? widths_[j] - PyUnicode_GET_LENGTH(text) : 0;
                    return start(j) + pad + k + 1;
                }
            }
        }
        return 0;
    }

    // Line i, cut after `length` characters.
    void line(Py_ssize_t i, Py_ssize_t length) {
        end_ = at_ + length;
        for (std::size_t j = 0; j < widths_.size() && at_ < end_; ++j) {
            PyObject* text = cell(i, j);
            const Py_ssize_t pad = widths_[j] - PyUnicode_GET_LENGTH(text);
            fill(' ', j == 0 ? 0 : 2);
            fill(' ', right_[j] ? pad : 0);
            copy(text, PyUnicode_GET_LENGTH(text));
            fill(' ', right_[j] ? 0 : pad);
        }
        at_ = end_;
        end_ = PY_SSIZE_T_MAX;
    }

    Py_ssize_t room(Py_ssize_t count) const { return std::min(count, end_ - at_); }

    void fill(Py_UCS4 character, Py_ssize_t count) {
        count = room(count);
        for (Py_ssize_t k = 0; k < count; ++k) {
            PyUnicode_WRITE(kind_, data_, at_ + k, character);
        }
        at_ += count;
    }

    void copy(PyObject* text, Py_ssize_t count) {
        count = room(count);
        const int kind = PyUnicode_KIND(text);
        const void* data = PyUnicode_DATA(text);
        if (kind == kind_) {
            std::memcpy(static_cast<char*>(data_) + at_ * kind, data,
                        static_cast<std::size_t>(count * kind));
        } else {
            for (Py_ssize_t k = 0; k < count; ++k) {
                PyUnicode_WRITE(kind_, data_, at_ + k, PyUnicode_READ(kind, data, k));
            }
        }
        at_ += count;
    }

    PyObject* title_;
    PyObject* headers_;
    PyObject* columns_;
    std::vector<Py_ssize_t> widths_;
    std::vector<bool> right_;
    Py_ssize_t rows_ = 0;
    Py_ssize_t lineWidth_ = 0;
    Py_UCS4 maxChar_ = 0;
    int kind_ = 0;
    void* data_ = nullptr;
    Py_ssize_t at_ = 0;
    // Where the line being written is cut.
    Py_ssize_t end_ = PY_SSIZE_T_MAX;
};

PyObject* formatTable(PyObject* /*module*/, PyObject* args) {
    PyObject* title = nullptr;
    PyObject* headers = nullptr;
    PyObject* columns = nullptr;
    PyObject* numeric = nullptr;
    if (PyArg_ParseTuple(args, "UO!O!O:format_table", &title, &PyList_Type, &headers, &PyList_Type,
                         &columns, &numeric) == 0) {
        return nullptr;
    }
    PyObject* result = nullptr;
    runGuarded([&] { result = TextTable(title, headers, columns, numeric).text().release(); });
    return result;
}

PyMethodDef functionTable[] = {
    {"curve_repriced", methodFunction(curveRepriced), METH_VARARGS,
     "curve_repriced(curve, /)\n--\n\nThe quote of each pillar's instrument on the curve, in "
     "pillar order: a swap's par rate in percent, a futures row's price."},
    {"curve_zero_rate", methodFunction(curveZeroRate), METH_VARARGS,
     "curve_zero_rate(curve, date, /)\n--\n\nContinuously compounded zero rate of the date on "
     "ACT/365F curve time, -ln(df)/t; on and before the value date the rate up to the first "
     "pillar."},
    {"curve_forward_rate", methodFunction(curveForwardRate), METH_VARARGS,
     "curve_forward_rate(curve, start, end, day_count, /)\n--\n\nSimply compounded forward "
     "rate (df(start)/df(end) - 1)/tau, tau under the named day count. ValueError for an "
     "unknown day count or an end not after the start."},
    {"curve_dfs", methodFunction(curveDfs), METH_VARARGS,
     "curve_dfs(curve, dates, /)\n--\n\nDiscount factors of a sequence of datetime.date, as "
     "a list of float equal to df date by date."},
    {"format_floats", methodFunction(formatFloats), METH_VARARGS,
     "format_floats(values, decimals, grouped, zero, /)\n--\n\nThe texts of a contiguous "
     "float64 buffer as format(value, \",.Nf\") (grouped) or \".Nf\" gives them, N the "
     "decimals; values within zero of zero are shown as zero."},
    {"format_table", methodFunction(formatTable), METH_VARARGS,
     "format_table(title, headers, columns, numeric, /)\n--\n\nA titled text table of "
     "columns of str: each column padded to its widest cell, the columns in numeric "
     "right-aligned and the others left-aligned, two spaces apart, a rule of dashes under the "
     "header, and each line's trailing whitespace dropped."},
    {"curve_dfs_days", methodFunction(curveDfsDays), METH_VARARGS,
     "curve_dfs_days(curve, days, out, /)\n--\n\nDiscount factors of int64 day numbers from "
     "1970-01-01 (datetime64[D] viewed as int64), written into the writable float64 buffer "
     "out of the same length. Returns None."},
    {"irs_par_rate", methodFunction(swapAnalytic<parRate>), METH_VARARGS,
     "irs_par_rate(swap, curve, fixings=None, /)\n--\n\nThe fixed rate (decimal) at which the "
     "swap's NPV is zero; with two floating legs, the par margin of leg 2."},
    {"irs_annuity", methodFunction(swapAnalytic<annuityIgnoringFixings>), METH_VARARGS,
     "irs_annuity(swap, curve, fixings=None, /)\n--\n\nPV of the fixed leg per unit of rate: "
     "the sum over unsettled periods of fraction x notional x discount factor."},
    {"irs_dv01", methodFunction(swapAnalytic<dv01>), METH_VARARGS,
     "irs_dv01(swap, curve, fixings=None, /)\n--\n\nNPV change for a one basis point rise of "
     "every curve quote: the central difference on curves rebuilt from quotes moved by "
     "+-0.01 (percent)."},
    {"irs_required_fixings", methodFunction(swapRequiredFixings), METH_VARARGS,
     "irs_required_fixings(swap, date, /)\n--\n\nThe result of IRS.required_fixings, built "
     "without an intermediate tree: {index: [datetime.date, ...]} or None."},
    {nullptr, nullptr, 0, nullptr},
};

} // namespace

PyRef requiredFixingsObject(const ProductInterestRateSwap& swap, date asOf) {
    const auto legs = swap.requiredFixingDays(asOf);
    if (legs.empty()) {
        return PyRef::borrow(Py_None);
    }
    PyRef dict = checked(PyDict_New());
    // A second leg on the same index replaces the first, as in the dict of the tree.
    for (const auto& leg : legs) {
        setItem(dict.get(), leg.index.c_str(), dateList(leg.days));
    }
    return dict;
}

PyMethodDef* analyticsFunctions() {
    return functionTable;
}

} // namespace tsr
