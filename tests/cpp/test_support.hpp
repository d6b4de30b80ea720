// Helpers shared by the C++ test executables.
#pragma once

#include "conventions/generator_deposit.hpp"
#include "conventions/generator_repository.hpp"
#include "conventions/generator_swap.hpp"
#include "conventions/init_defaults.hpp"
#include "core/object_tree.hpp"
#include "curves/yield_curve.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tsr::test {

// Registers the built-in calendars, indices and generators, futures too, once per executable.
class DefaultsEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        initDefaults();
        initFutureGenerators();
    }
};

inline ::testing::Environment* useDefaults() {
    return ::testing::AddGlobalTestEnvironment(new DefaultsEnvironment);
}

inline date d(const char* iso) {
    return boost::gregorian::from_simple_string(iso);
}

inline std::vector<date> dates(std::initializer_list<const char*> isos) {
    std::vector<date> out;
    for (const char* iso : isos) {
        out.push_back(d(iso));
    }
    return out;
}

inline std::string iso(const date& x) {
    return boost::gregorian::to_iso_extended_string(x);
}

inline ObjectTree fromJson(std::string_view json) {
    std::istringstream in{std::string(json)};
    TextTree text;
    boost::property_tree::read_json(in, text);
    return convertToPropertyTree(text);
}

// The bits of a double: equal bits tell -0.0 from 0.0 and match NaNs by payload.
inline std::uint64_t bits(double x) {
    return std::bit_cast<std::uint64_t>(x);
}

// The numbers of a column of a result tree, such as "Net" of a risk ladder.
inline std::vector<double> column(const ObjectTree& tree, const std::string& key) {
    std::vector<double> values;
    for (const auto& [name, node] : tree.get_child(key)) {
        values.push_back(node.get_value<double>());
    }
    return values;
}

// The message of what the call throws, or "no exception".
template <class F> std::string messageOf(F&& call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no exception";
}

// The call must throw, with exactly this message.
template <class F> void expectMessage(F&& call, const std::string& expected) {
    EXPECT_EQ(expected, messageOf(std::forward<F>(call)));
}

// The call must throw an E whose message is exactly m.
template <class E>
void expectThrowWithMessage(const std::function<void()>& f, const std::string& m) {
    try {
        f();
        ADD_FAILURE() << "expected an exception with message: " << m;
    } catch (const E& e) {
        EXPECT_EQ(m, e.what());
    } catch (const std::exception& e) {
        ADD_FAILURE() << "wrong exception kind, message: " << e.what() << ", expected: " << m;
    }
}

// Conventions of one swap leg; the defaults are those of the dollar swap's fixed leg.
struct LegConventions {
    bool fixed = true;
    bool paid = true;
    std::string currency = "USD";
    std::string calendar = "US";
    std::string index = "SOFR"; // floating legs only
    std::string frequency = "1Y";
    std::string dayCount = "ACT/360";
    std::string accrualAdjustment = "Modified Following";
    std::string accrualCalendar = "US";
    std::string payAdjustment = "Following";
    std::string payCalendar = "US";
    int payLag = 2;
    std::string roll = "backward";
};

// A received floating leg on the index.
inline LegConventions floatingLeg(const std::string& index = "SOFR") {
    LegConventions leg;
    leg.fixed = false;
    leg.paid = false;
    leg.index = index;
    return leg;
}

inline ObjectTree legTree(const LegConventions& leg) {
    ObjectTree t;
    t.add("currency", leg.currency);
    t.add("is fixed", leg.fixed);
    t.add("is paid", leg.paid);
    t.add("calendar", leg.calendar);
    if (!leg.fixed) {
        t.add("index", leg.index);
    }
    t.add("frequency", leg.frequency);
    t.add("day count convention", leg.dayCount);
    t.add("accrual adjustment", leg.accrualAdjustment);
    t.add("accrual calendar", leg.accrualCalendar);
    t.add("pay adjustment", leg.payAdjustment);
    t.add("pay calendar", leg.payCalendar);
    t.add("pay lag", leg.payLag);
    t.add("roll", leg.roll);
    return t;
}

// A swap generator description; a null leg is left out.
inline ObjectTree swapGeneratorTree(const std::string& id, const LegConventions* leg1,
                                    const LegConventions* leg2, int startDelay = 2,
                                    const std::string& calendar = "US") {
    ObjectTree t;
    t.add("id", id);
    t.add("start delay", startDelay);
    t.add("calendar", calendar);
    if (leg1 != nullptr) {
        t.add_child("leg1", legTree(*leg1));
    }
    if (leg2 != nullptr) {
        t.add_child("leg2", legTree(*leg2));
    }
    return t;
}

// An overnight deposit generator in dollars on the US calendar.
inline ObjectTree depositGeneratorTree(const std::string& id) {
    ObjectTree t;
    t.add("id", id);
    t.add("currency", std::string("USD"));
    t.add("tenor", std::string("1D"));
    t.add("start delay", 0);
    t.add("pay adjustment", std::string("Following"));
    t.add("pay calendar", std::string("US"));
    t.add("accrual adjustment", std::string("Following"));
    t.add("accrual calendar", std::string("US"));
    return t;
}

// The built-in conventions and an overnight deposit generator under `label`, for curves with
// a deposit row.
class DepositEnvironment : public ::testing::Environment {
public:
    explicit DepositEnvironment(std::string label) : label_(std::move(label)) {}
    void SetUp() override {
        initDefaults();
        GeneratorRepository::instance().add(
            label_, std::make_shared<GeneratorDeposit>(depositGeneratorTree(label_)));
    }

private:
    std::string label_;
};

// One generator quoted at every tenor, row i at quoteAt(i); the rows listed in `unused` are
// left out of the bootstrap.
template <class Quote>
YieldCurveInstruments quotedInstruments(const std::string& generator,
                                        const std::vector<std::string>& tenors, Quote&& quoteAt,
                                        const std::vector<std::size_t>& unused = {}) {
    YieldCurveInstruments instruments;
    for (std::size_t i = 0; i < tenors.size(); ++i) {
        instruments.generators.push_back(generator);
        instruments.tenors.push_back(tenors[i]);
        instruments.quotes.push_back(quoteAt(i));
        instruments.inUse.push_back(std::find(unused.begin(), unused.end(), i) == unused.end());
    }
    return instruments;
}

// Inserts an overnight deposit row in use before `row`; it makes no pillar of its own.
inline void insertDeposit(YieldCurveInstruments& instruments, std::size_t row,
                          const std::string& label, double quote) {
    const auto at = static_cast<std::ptrdiff_t>(row);
    instruments.generators.insert(instruments.generators.begin() + at, label);
    instruments.tenors.insert(instruments.tenors.begin() + at, "1D");
    instruments.quotes.insert(instruments.quotes.begin() + at, quote);
    instruments.inUse.insert(instruments.inUse.begin() + at, true);
}

// Trade data of a swap: the fixed rate of leg 1 and the margin of leg 2.
inline ObjectTree swapTree(const std::string& id, date start, date end, double rate, double margin,
                           double notional1, double notional2) {
    ObjectTree t;
    t.add("id", id);
    t.add("start date", start);
    t.add("end date", end);
    t.add("leg1.rate", rate);
    t.add("leg1.notional", notional1);
    t.add("leg2.margin", margin);
    t.add("leg2.notional", notional2);
    return t;
}

// Removes the first node at a path of one or two keys.
inline void erase(ObjectTree& tree, const std::string& path) {
    const auto dot = path.find('.');
    ObjectTree& parent = dot == std::string::npos ? tree : tree.get_child(path.substr(0, dot));
    const std::string key = dot == std::string::npos ? path : path.substr(dot + 1);
    const auto it = parent.find(key);
    ASSERT_NE(parent.not_found(), it) << path;
    parent.erase(parent.to_iterator(it));
}

// Every convention of a built leg against the description it was built from, its class too.
inline void expectLegConventions(const GeneratorSwap::SwapLeg* leg,
                                 const LegConventions& expected) {
    ASSERT_TRUE(leg);
    EXPECT_EQ(expected.currency, leg->currency());
    EXPECT_EQ(expected.fixed, leg->isFixed());
    EXPECT_EQ(expected.paid, leg->isPaid());
    EXPECT_EQ(expected.calendar, leg->calendar());
    EXPECT_EQ(expected.frequency, leg->frequency());
    EXPECT_EQ(expected.dayCount, leg->dayCountConvention());
    EXPECT_EQ(expected.accrualAdjustment, leg->accrualAdjustment());
    EXPECT_EQ(expected.accrualCalendar, leg->accrualCalendar());
    EXPECT_EQ(expected.payAdjustment, leg->payAdjustment());
    EXPECT_EQ(expected.payCalendar, leg->payCalendar());
    EXPECT_EQ(expected.payLag, leg->payLag());
    EXPECT_EQ(expected.roll, leg->roll());
    const auto* floating = dynamic_cast<const GeneratorSwap::SwapLegFloat*>(leg);
    EXPECT_EQ(expected.fixed, dynamic_cast<const GeneratorSwap::SwapLegFixed*>(leg) != nullptr);
    ASSERT_EQ(!expected.fixed, floating != nullptr);
    if (floating != nullptr) {
        EXPECT_EQ(expected.index, floating->index());
    }
}

} // namespace tsr::test
