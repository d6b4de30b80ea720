#include "conventions/generator_deposit.hpp"
#include "conventions/generator_factory.hpp"
#include "conventions/generator_repository.hpp"
#include "conventions/generator_swap.hpp"
#include "conventions/init_defaults.hpp"

#include <boost/property_tree/json_parser.hpp>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using tsr::Generator;
using tsr::GeneratorDeposit;
using tsr::GeneratorFactory;
using tsr::GeneratorRepository;
using tsr::GeneratorSwap;
using tsr::ObjectTree;

namespace {

class DefaultsEnvironment : public ::testing::Environment {
public:
    void SetUp() override { initDefaults(); }
};

[[maybe_unused]] ::testing::Environment* const defaultsEnvironment =
    ::testing::AddGlobalTestEnvironment(new DefaultsEnvironment);

ObjectTree fromJson(const std::string& json) {
    std::istringstream in(json);
    tsr::TextTree text;
    boost::property_tree::read_json(in, text);
    return tsr::convertToPropertyTree(text);
}

// A swap generator in text form, as a JSON description delivers it: every value is a string.
const char* const swapJson = R"({
    "id": "TEST SW", "type": "irs", "start delay": "1", "calendar": "US,EN",
    "leg1": {
        "currency": "USD", "is fixed": "true", "is paid": "false", "calendar": "US",
        "frequency": "6M", "day count convention": "30/360",
        "accrual adjustment": "Following", "accrual calendar": "US",
        "pay adjustment": "Preceding", "pay calendar": "EN", "pay lag": "3", "roll": "Forward"
    },
    "leg2": {
        "currency": "GBP", "is fixed": "false", "is paid": "true", "calendar": "EN",
        "index": "SONIA", "frequency": "3M", "day count convention": "Act/365F",
        "accrual adjustment": "Modified Following", "accrual calendar": "EN",
        "pay adjustment": "Following", "pay calendar": "US", "pay lag": "0", "roll": "Backward",
        "unused": "ignored"
    }
})";

// The same conventions as typed values.
ObjectTree typedLeg(bool fixed) {
    ObjectTree t;
    t.add("currency", std::string(fixed ? "USD" : "GBP"));
    t.add("is fixed", fixed);
    t.add("is paid", !fixed);
    t.add("calendar", std::string(fixed ? "US" : "EN"));
    if (!fixed) {
        t.add("index", std::string("SONIA"));
    }
    t.add("frequency", std::string(fixed ? "6M" : "3M"));
    t.add("day count convention", std::string(fixed ? "30/360" : "Act/365F"));
    t.add("accrual adjustment", std::string(fixed ? "Following" : "Modified Following"));
    t.add("accrual calendar", std::string(fixed ? "US" : "EN"));
    t.add("pay adjustment", std::string(fixed ? "Preceding" : "Following"));
    t.add("pay calendar", std::string(fixed ? "EN" : "US"));
    t.add("pay lag", fixed ? 3 : 0);
    t.add("roll", std::string(fixed ? "Forward" : "Backward"));
    return t;
}

ObjectTree typedSwap() {
    ObjectTree t;
    t.add("id", std::string("TEST SW"));
    t.add("type", std::string("irs"));
    t.add("start delay", 1);
    t.add("calendar", std::string("US,EN"));
    t.add_child("leg1", typedLeg(true));
    t.add_child("leg2", typedLeg(false));
    return t;
}

ObjectTree depositTree() {
    ObjectTree t;
    t.add("id", std::string("TEST DEP"));
    t.add("type", std::string("dep"));
    t.add("currency", std::string("EUR"));
    t.add("tenor", std::string("1D"));
    t.add("start delay", 0);
    t.add("pay adjustment", std::string("Following"));
    t.add("pay calendar", std::string("TG"));
    t.add("accrual adjustment", std::string("Modified Following"));
    t.add("accrual calendar", std::string("EN"));
    return t;
}

// Removes the first child with the key at the path "parent.key" or "key".
void erase(ObjectTree& tree, const std::string& parent, const std::string& key) {
    ObjectTree& node = parent.empty() ? tree : tree.get_child(parent);
    const auto it = node.find(key);
    ASSERT_NE(node.not_found(), it) << key;
    node.erase(node.to_iterator(it));
}

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

void expectSwapConventions(const GeneratorSwap& g) {
    EXPECT_EQ("TEST SW", g.id());
    EXPECT_EQ(1, g.startDelay());
    EXPECT_EQ("US,EN", g.calendar());
    const auto& fixed = g.legs()[0];
    ASSERT_TRUE(fixed);
    EXPECT_TRUE(dynamic_cast<const GeneratorSwap::SwapLegFixed*>(fixed.get()));
    EXPECT_EQ("USD", fixed->currency());
    EXPECT_TRUE(fixed->isFixed());
    EXPECT_FALSE(fixed->isPaid());
    EXPECT_EQ("US", fixed->calendar());
    EXPECT_EQ("6M", fixed->frequency());
    EXPECT_EQ("30/360", fixed->dayCountConvention());
    EXPECT_EQ("Following", fixed->accrualAdjustment());
    EXPECT_EQ("US", fixed->accrualCalendar());
    EXPECT_EQ("Preceding", fixed->payAdjustment());
    EXPECT_EQ("EN", fixed->payCalendar());
    EXPECT_EQ(3, fixed->payLag());
    EXPECT_EQ("Forward", fixed->roll());
    const auto* floating = dynamic_cast<const GeneratorSwap::SwapLegFloat*>(g.legs()[1].get());
    ASSERT_TRUE(floating);
    EXPECT_EQ("GBP", floating->currency());
    EXPECT_FALSE(floating->isFixed());
    EXPECT_TRUE(floating->isPaid());
    EXPECT_EQ("EN", floating->calendar());
    EXPECT_EQ("SONIA", floating->index());
    EXPECT_EQ("3M", floating->frequency());
    EXPECT_EQ("Act/365F", floating->dayCountConvention());
    EXPECT_EQ("Modified Following", floating->accrualAdjustment());
    EXPECT_EQ("EN", floating->accrualCalendar());
    EXPECT_EQ("Following", floating->payAdjustment());
    EXPECT_EQ("US", floating->payCalendar());
    EXPECT_EQ(0, floating->payLag());
    EXPECT_EQ("Backward", floating->roll());
}

} // namespace

TEST(Generator, SwapGeneratorReadsTextValues) {
    expectSwapConventions(GeneratorSwap(fromJson(swapJson)));
}

TEST(Generator, SwapGeneratorReadsTypedValues) {
    expectSwapConventions(GeneratorSwap(typedSwap()));
}

TEST(Generator, ConventionNamesAreKeptAsGivenUntilAScheduleIsMade) {
    ObjectTree t = typedSwap();
    t.get_child("leg1").put("roll", std::string("sideways"));
    t.get_child("leg1").put("frequency", std::string("every now and then"));
    t.get_child("leg2").put("pay calendar", std::string("NOWHERE"));
    t.put("calendar", std::string("NOWHERE"));
    const GeneratorSwap g(t);
    EXPECT_EQ("sideways", g.legs()[0]->roll());
    EXPECT_EQ("every now and then", g.legs()[0]->frequency());
    EXPECT_EQ("NOWHERE", g.legs()[1]->payCalendar());
    EXPECT_EQ("NOWHERE", g.calendar());
}

TEST(Generator, AbsentLegsStayNull) {
    ObjectTree noLeg2 = typedSwap();
    erase(noLeg2, "", "leg2");
    const GeneratorSwap a(noLeg2);
    EXPECT_TRUE(a.legs()[0]);
    EXPECT_FALSE(a.legs()[1]);

    ObjectTree noLegs = typedSwap();
    erase(noLegs, "", "leg1");
    erase(noLegs, "", "leg2");
    const GeneratorSwap b(noLegs);
    EXPECT_FALSE(b.legs()[0]);
    EXPECT_FALSE(b.legs()[1]);
}

TEST(Generator, IsFixedDecidesTheLegClass) {
    struct Case {
        const char* isFixed;
        bool fixed;
    };
    for (const Case c : {Case{"true", true}, Case{"TRUE", true}, Case{"True", true},
                         Case{"false", false}, Case{"FALSE", false}, Case{"fAlSe", false}}) {
        ObjectTree t = typedSwap();
        // leg2 carries an "index", so either kind can be built from it.
        t.get_child("leg2").put("is fixed", std::string(c.isFixed));
        const GeneratorSwap g(t);
        const auto& leg = g.legs()[1];
        EXPECT_EQ(c.fixed, leg->isFixed()) << c.isFixed;
        EXPECT_EQ(c.fixed, dynamic_cast<const GeneratorSwap::SwapLegFixed*>(leg.get()) != nullptr)
            << c.isFixed;
        EXPECT_EQ(!c.fixed, dynamic_cast<const GeneratorSwap::SwapLegFloat*>(leg.get()) != nullptr)
            << c.isFixed;
    }
}

TEST(Generator, BadValuesFailWithTheConversionMessage) {
    struct Case {
        const char* name;
        std::function<void(ObjectTree&)> change;
        const char* message;
    };
    const Case cases[] = {
        {"IsFixedYes",
         [](ObjectTree& t) { t.get_child("leg1").put("is fixed", std::string("yes")); },
         "BoxedValue: cannot convert string \"yes\" to bool"},
        {"IsFixedOne", [](ObjectTree& t) { t.get_child("leg1").put("is fixed", std::string("1")); },
         "BoxedValue: cannot convert string \"1\" to bool"},
        {"IsFixedNumber", [](ObjectTree& t) { t.get_child("leg1").put("is fixed", 1); },
         "BoxedValue: cannot convert to bool"},
        {"IsPaidWithBlank",
         [](ObjectTree& t) { t.get_child("leg2").put("is paid", std::string("true ")); },
         "BoxedValue: cannot convert string \"true \" to bool"},
        {"StartDelayText", [](ObjectTree& t) { t.put("start delay", std::string("two")); },
         "BoxedValue: cannot convert string \"two\" to int"},
        {"StartDelayDouble", [](ObjectTree& t) { t.put("start delay", 2.0); },
         "BoxedValue: cannot convert to int"},
        {"PayLagDecimalText",
         [](ObjectTree& t) { t.get_child("leg2").put("pay lag", std::string("2.5")); },
         "BoxedValue: cannot convert string \"2.5\" to int"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ObjectTree t = typedSwap();
        c.change(t);
        expectThrowWithMessage<std::runtime_error>([&] { GeneratorSwap g(t); }, c.message);
    }
}

TEST(Generator, TextKeysMustHoldText) {
    ObjectTree t = typedSwap();
    t.get_child("leg1").put("currency", 840);
    EXPECT_THROW(GeneratorSwap{t}, std::bad_cast);
}

TEST(Generator, EveryMissingKeyIsReportedByItsPath) {
    struct Case {
        const char* parent;
        const char* key;
    };
    std::vector<Case> cases = {{"", "id"}, {"", "start delay"}, {"", "calendar"}};
    for (const char* key : {"currency", "is fixed", "is paid", "calendar", "frequency",
                            "day count convention", "accrual adjustment", "accrual calendar",
                            "pay adjustment", "pay calendar", "pay lag", "roll"}) {
        cases.push_back({"leg1", key});
        cases.push_back({"leg2", key});
    }
    cases.push_back({"leg2", "index"});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.parent) + "/" + c.key);
        ObjectTree t = typedSwap();
        erase(t, c.parent, c.key);
        expectThrowWithMessage<boost::property_tree::ptree_bad_path>(
            [&] { GeneratorSwap g(t); }, std::string("No such node (") + c.key + ")");
    }
}

TEST(Generator, FirstMissingKeyInReadingOrderIsReported) {
    struct Case {
        std::vector<std::pair<const char*, const char*>> removed;
        const char* reported;
    };
    const Case cases[] = {
        {{{"", "start delay"}, {"", "id"}}, "id"},
        {{{"", "calendar"}, {"", "start delay"}}, "start delay"},
        {{{"leg1", "currency"}, {"", "calendar"}}, "calendar"},
        // The generator reads "is fixed" before it builds the leg.
        {{{"leg1", "currency"}, {"leg1", "is fixed"}}, "is fixed"},
        {{{"leg1", "roll"}, {"leg1", "currency"}}, "currency"},
        {{{"leg1", "calendar"}, {"leg1", "is paid"}}, "is paid"},
        {{{"leg1", "day count convention"}, {"leg1", "frequency"}}, "frequency"},
        {{{"leg1", "accrual adjustment"}, {"leg1", "day count convention"}},
         "day count convention"},
        {{{"leg1", "pay adjustment"}, {"leg1", "accrual calendar"}}, "accrual calendar"},
        {{{"leg1", "pay lag"}, {"leg1", "pay calendar"}}, "pay calendar"},
        {{{"leg1", "roll"}, {"leg1", "pay lag"}}, "pay lag"},
        {{{"leg2", "index"}, {"leg2", "roll"}}, "roll"},
        {{{"leg2", "currency"}, {"leg1", "roll"}}, "roll"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reported);
        ObjectTree t = typedSwap();
        for (const auto& [parent, key] : c.removed) {
            erase(t, parent, key);
        }
        expectThrowWithMessage<boost::property_tree::ptree_bad_path>(
            [&] { GeneratorSwap g(t); }, std::string("No such node (") + c.reported + ")");
    }
}

TEST(Generator, FloatingLegWithoutIndexFails) {
    ObjectTree leg = typedLeg(false);
    erase(leg, "", "index");
    expectThrowWithMessage<boost::property_tree::ptree_bad_path>(
        [&] { GeneratorSwap::SwapLegFloat l(leg); }, "No such node (index)");
    // A fixed leg never asks for one.
    EXPECT_NO_THROW(GeneratorSwap::SwapLegFixed{typedLeg(true)});
}

TEST(Generator, LegSubtreeWithoutIsFixedFails) {
    ObjectTree onlyCurrency;
    onlyCurrency.add("currency", std::string("USD"));
    for (const ObjectTree& leg : {ObjectTree(), onlyCurrency}) {
        ObjectTree t = typedSwap();
        erase(t, "", "leg2");
        t.add_child("leg2", leg);
        expectThrowWithMessage<boost::property_tree::ptree_bad_path>([&] { GeneratorSwap g(t); },
                                                                     "No such node (is fixed)");
    }
}

TEST(Generator, DepositGeneratorReadsItsKeys) {
    const GeneratorDeposit g(depositTree());
    EXPECT_EQ("TEST DEP", g.id());
    EXPECT_EQ("EUR", g.currency());
    EXPECT_EQ("1D", g.tenor());
    EXPECT_EQ(0, g.startDelay());
    EXPECT_EQ("Following", g.payAdjustment());
    EXPECT_EQ("TG", g.payCalendar());
    EXPECT_EQ("Modified Following", g.accrualAdjustment());
    EXPECT_EQ("EN", g.accrualCalendar());

    // "type" is for the factory only.
    ObjectTree untyped = depositTree();
    erase(untyped, "", "type");
    EXPECT_EQ("TEST DEP", GeneratorDeposit(untyped).id());

    for (const char* key : {"id", "currency", "tenor", "start delay", "pay adjustment",
                            "pay calendar", "accrual adjustment", "accrual calendar"}) {
        SCOPED_TRACE(key);
        ObjectTree t = depositTree();
        erase(t, "", key);
        expectThrowWithMessage<boost::property_tree::ptree_bad_path>(
            [&] { GeneratorDeposit g(t); }, std::string("No such node (") + key + ")");
    }
    // Read in order: the tenor is missed before the accrual calendar.
    ObjectTree t = depositTree();
    erase(t, "", "accrual calendar");
    erase(t, "", "tenor");
    expectThrowWithMessage<boost::property_tree::ptree_bad_path>([&] { GeneratorDeposit g(t); },
                                                                 "No such node (tenor)");
}

TEST(Generator, FactoryTypeIgnoresLetterCase) {
    struct Case {
        const char* type;
        bool swap;
    };
    for (const Case c : {Case{"irs", true}, Case{"IRS", true}, Case{"Irs", true}, Case{"iRs", true},
                         Case{"dep", false}, Case{"Dep", false}, Case{"DEP", false}}) {
        SCOPED_TRACE(c.type);
        ObjectTree t = c.swap ? typedSwap() : depositTree();
        t.put("type", std::string(c.type));
        const std::shared_ptr<Generator> g = GeneratorFactory::build(t);
        ASSERT_TRUE(g);
        EXPECT_EQ(c.swap, std::dynamic_pointer_cast<GeneratorSwap>(g) != nullptr);
        EXPECT_EQ(!c.swap, std::dynamic_pointer_cast<GeneratorDeposit>(g) != nullptr);
        EXPECT_EQ(c.swap ? "TEST SW" : "TEST DEP", g->id());
    }
    const auto fromText = GeneratorFactory::build(fromJson(swapJson));
    expectSwapConventions(dynamic_cast<const GeneratorSwap&>(*fromText));
}

TEST(Generator, FactoryRejectsOtherTypes) {
    for (const char* type : {"deposit", "swap", "", "ir", "irs ", " dep", "ois", "IRSS"}) {
        SCOPED_TRACE(type);
        ObjectTree t = typedSwap();
        t.put("type", std::string(type));
        expectThrowWithMessage<std::runtime_error>([&] { GeneratorFactory::build(t); },
                                                   "Error, unsupported generator type");
    }
    ObjectTree untyped = typedSwap();
    erase(untyped, "", "type");
    expectThrowWithMessage<boost::property_tree::ptree_bad_path>(
        [&] { GeneratorFactory::build(untyped); }, "No such node (type)");
    // A deposit type with swap keys fails on the first missing deposit key.
    ObjectTree mixed = typedSwap();
    mixed.put("type", std::string("dep"));
    expectThrowWithMessage<boost::property_tree::ptree_bad_path>(
        [&] { GeneratorFactory::build(mixed); }, "No such node (currency)");
}

TEST(Generator, RepositoryKeepsTheFirstEntryUnderALabel) {
    auto& repository = GeneratorRepository::instance();
    const auto original = repository.get<Generator>("USD SOFR SW");
    const std::size_t size = repository.size();
    ObjectTree t = typedSwap();
    t.put("id", std::string("USD SOFR SW"));
    const auto duplicate = std::make_shared<GeneratorSwap>(t);
    expectThrowWithMessage<std::runtime_error>([&] { repository.add("USD SOFR SW", duplicate); },
                                               "Label already registered: USD SOFR SW");
    const auto kept = repository.get<GeneratorSwap>("USD SOFR SW");
    EXPECT_EQ(original, kept);
    EXPECT_EQ(2, kept->startDelay());
    EXPECT_EQ("US", kept->calendar());
    EXPECT_EQ(size, repository.size());
}

TEST(Generator, RepositoryLookups) {
    auto& repository = GeneratorRepository::instance();
    const auto deposit = std::make_shared<GeneratorDeposit>(depositTree());
    repository.add("TEST DEP", deposit);
    // One generator may sit under several labels; the label need not be its id.
    repository.add("TEST DEP 2", deposit);
    EXPECT_EQ(deposit, repository.get<Generator>("TEST DEP"));
    EXPECT_EQ(deposit, repository.get<GeneratorDeposit>("TEST DEP 2"));
    EXPECT_THROW((void)repository.get<GeneratorSwap>("TEST DEP"), std::bad_cast);
    EXPECT_THROW((void)repository.get<GeneratorDeposit>("USD SOFR SW"), std::bad_cast);

    repository.add("TEST NULL", nullptr);
    EXPECT_THROW((void)repository.get<Generator>("TEST NULL"), std::bad_cast);

    for (const char* label : {"usd sofr sw", "USD SOFR SW ", "test dep", "TEST  DEP", ""}) {
        expectThrowWithMessage<std::out_of_range>(
            [&] { (void)repository.get<Generator>(label); },
            std::string("No object registered under label: ") + label);
    }
}
