#include "conventions/generator_deposit.hpp"
#include "conventions/generator_factory.hpp"
#include "conventions/generator_repository.hpp"
#include "conventions/generator_swap.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <tuple>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace tsr::test;
using tsr::Generator;
using tsr::GeneratorDeposit;
using tsr::GeneratorFactory;
using tsr::GeneratorRepository;
using tsr::GeneratorSwap;
using tsr::ObjectTree;

namespace {

[[maybe_unused]] ::testing::Environment* const defaultsEnvironment = useDefaults();

// A swap generator in text form, as a JSON description delivers it: every value is a string.
const char* const swapJson = R"({
    "id": "TEST SW", "type": "irs", "start delay": "2", "calendar": "US,EN",
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
const LegConventions fixedSpec{true,        false, "USD",       "US", "", "6M",     "30/360",
                               "Following", "US",  "Preceding", "EN", 3,  "Forward"};
const LegConventions floatSpec{
    false, true,        "GBP", "EN", "SONIA",   "3M", "Act/365F", "Modified Following",
    "EN",  "Following", "US",  0,    "Backward"};

ObjectTree typedSwap() {
    ObjectTree t = swapGeneratorTree("TEST SW", &fixedSpec, &floatSpec, 2, "US,EN");
    t.add("type", std::string("irs"));
    return t;
}

ObjectTree depositTree() {
    ObjectTree t = depositGeneratorTree("TEST DEP");
    t.add("type", std::string("dep"));
    return t;
}

void expectSwapConventions(const GeneratorSwap& g) {
    EXPECT_EQ("TEST SW", g.id());
    EXPECT_EQ(2, g.startDelay());
    EXPECT_EQ("US,EN", g.calendar());
    expectLegConventions(g.legs()[0].get(), fixedSpec);
    expectLegConventions(g.legs()[1].get(), floatSpec);
}

const std::string noNode = "No such node (";

} // namespace

TEST(Generator, SwapGeneratorReadsTextAndTypedValues) {
    expectSwapConventions(GeneratorSwap(fromJson(swapJson)));
    expectSwapConventions(GeneratorSwap(typedSwap()));
    expectSwapConventions(
        dynamic_cast<const GeneratorSwap&>(*GeneratorFactory::build(fromJson(swapJson))));
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
    // Absent legs stay null.
    erase(t, "leg2");
    EXPECT_FALSE(GeneratorSwap(t).legs()[1]);
}

TEST(Generator, IsFixedDecidesTheLegClass) {
    for (const char* text : {"true", "TRUE", "True", "false", "FALSE", "fAlSe"}) {
        const bool fixed = text[0] == 't' || text[0] == 'T';
        ObjectTree t = typedSwap();
        // leg2 carries an "index", so either kind can be built from it.
        t.get_child("leg2").put("is fixed", std::string(text));
        const GeneratorSwap g(t);
        const auto& leg = g.legs()[1];
        EXPECT_EQ(fixed, leg->isFixed()) << text;
        EXPECT_EQ(fixed, dynamic_cast<const GeneratorSwap::SwapLegFixed*>(leg.get()) != nullptr)
            << text;
        EXPECT_EQ(!fixed, dynamic_cast<const GeneratorSwap::SwapLegFloat*>(leg.get()) != nullptr)
            << text;
    }
}

TEST(Generator, BadValuesFailWithTheConversionMessage) {
    const struct {
        const char* path;
        ObjectTree::data_type value;
        const char* message;
    } cases[] = {
        {"leg1.is fixed", std::make_shared<tsr::BoxedValue>("yes"),
         "BoxedValue: cannot convert string \"yes\" to bool"},
        {"leg1.is fixed", std::make_shared<tsr::BoxedValue>("1"),
         "BoxedValue: cannot convert string \"1\" to bool"},
        {"leg1.is fixed", std::make_shared<tsr::BoxedValue>(1),
         "BoxedValue: cannot convert to bool"},
        {"leg2.is paid", std::make_shared<tsr::BoxedValue>("true "),
         "BoxedValue: cannot convert string \"true \" to bool"},
        {"start delay", std::make_shared<tsr::BoxedValue>("two"),
         "BoxedValue: cannot convert string \"two\" to int"},
        {"start delay", std::make_shared<tsr::BoxedValue>(2.0),
         "BoxedValue: cannot convert to int"},
        {"leg2.pay lag", std::make_shared<tsr::BoxedValue>("2.5"),
         "BoxedValue: cannot convert string \"2.5\" to int"},
    };
    for (const auto& c : cases) {
        ObjectTree t = typedSwap();
        t.get_child(c.path).data() = c.value;
        expectThrowWithMessage<std::runtime_error>([&] { GeneratorSwap g(t); }, c.message);
    }
    ObjectTree t = typedSwap();
    t.get_child("leg1").put("currency", 840);
    EXPECT_THROW(GeneratorSwap{t}, std::bad_cast);
}

TEST(Generator, LagsOutsideWhatMarketsUseAreRefused) {
    for (const auto& [path, days, message] : std::vector<std::tuple<const char*, int, const char*>>{
             {"leg1.pay lag", 31, "Error, pay lag must be at most 30 business days, got 31."},
             {"leg2.pay lag", 1000000000,
              "Error, pay lag must be at most 30 business days, got 1000000000."},
             {"start delay", 10000000,
              "Error, start delay must be at most 30 business days, got 10000000."}}) {
        ObjectTree t = typedSwap();
        t.get_child(path).data() = std::make_shared<tsr::BoxedValue>(days);
        expectThrowWithMessage<std::invalid_argument>([&] { GeneratorSwap g(t); }, message);
    }
    // Up to 30, and a negative lag, which adds nothing, are taken.
    for (const int days : {30, -5}) {
        ObjectTree t = typedSwap();
        t.get_child("leg1.pay lag").data() = std::make_shared<tsr::BoxedValue>(days);
        EXPECT_EQ(days, GeneratorSwap(t).legs()[0]->payLag());
    }
}

TEST(Generator, EveryMissingKeyIsReportedByItsPath) {
    std::vector<std::string> paths = {"id", "start delay", "calendar", "leg2.index"};
    for (const char* key : {"currency", "is fixed", "is paid", "calendar", "frequency",
                            "day count convention", "accrual adjustment", "accrual calendar",
                            "pay adjustment", "pay calendar", "pay lag", "roll"}) {
        paths.push_back(std::string("leg1.") + key);
        paths.push_back(std::string("leg2.") + key);
    }
    for (const std::string& path : paths) {
        ObjectTree t = typedSwap();
        erase(t, path);
        expectThrowWithMessage<boost::property_tree::ptree_bad_path>(
            [&] { GeneratorSwap g(t); }, noNode + path.substr(path.find('.') + 1) + ")");
    }
    // A leg without "is fixed" fails on it whatever else it holds; a fixed leg needs no index.
    ObjectTree onlyCurrency;
    onlyCurrency.add("currency", std::string("USD"));
    for (const ObjectTree& leg : {ObjectTree(), onlyCurrency}) {
        ObjectTree t = typedSwap();
        erase(t, "leg2");
        t.add_child("leg2", leg);
        expectThrowWithMessage<boost::property_tree::ptree_bad_path>([&] { GeneratorSwap g(t); },
                                                                     noNode + "is fixed)");
    }
    EXPECT_NO_THROW(GeneratorSwap::SwapLegFixed{legTree(fixedSpec)});
}

TEST(Generator, DepositGeneratorReadsItsKeys) {
    ObjectTree tree = depositTree();
    tree.put("currency", std::string("EUR"));
    tree.put("pay calendar", std::string("TG"));
    tree.put("accrual adjustment", std::string("Modified Following"));
    tree.put("accrual calendar", std::string("EN"));
    const GeneratorDeposit g(tree);
    EXPECT_EQ("TEST DEP", g.id());
    EXPECT_EQ("EUR", g.currency());
    EXPECT_EQ("1D", g.tenor());
    EXPECT_EQ(0, g.startDelay());
    EXPECT_EQ("Following", g.payAdjustment());
    EXPECT_EQ("TG", g.payCalendar());
    EXPECT_EQ("Modified Following", g.accrualAdjustment());
    EXPECT_EQ("EN", g.accrualCalendar());
    // "type" is for the factory only.
    EXPECT_EQ("TEST DEP", GeneratorDeposit(depositGeneratorTree("TEST DEP")).id());
    for (const char* key : {"id", "currency", "tenor", "start delay", "pay adjustment",
                            "pay calendar", "accrual adjustment", "accrual calendar"}) {
        ObjectTree t = depositTree();
        erase(t, key);
        expectThrowWithMessage<boost::property_tree::ptree_bad_path>([&] { GeneratorDeposit g(t); },
                                                                     noNode + key + ")");
    }
    // Read in order: the tenor is missed before the accrual calendar.
    ObjectTree t = depositTree();
    erase(t, "accrual calendar");
    erase(t, "tenor");
    expectThrowWithMessage<boost::property_tree::ptree_bad_path>([&] { GeneratorDeposit g(t); },
                                                                 noNode + "tenor)");
}

TEST(Generator, FactoryTypeIgnoresLetterCaseAndRejectsOtherTypes) {
    for (const char* type : {"irs", "IRS", "Irs", "iRs", "dep", "Dep", "DEP"}) {
        const bool swap = type[0] == 'i' || type[0] == 'I';
        ObjectTree t = swap ? typedSwap() : depositTree();
        t.put("type", std::string(type));
        const std::shared_ptr<Generator> g = GeneratorFactory::build(t);
        ASSERT_TRUE(g) << type;
        EXPECT_EQ(swap, std::dynamic_pointer_cast<GeneratorSwap>(g) != nullptr) << type;
        EXPECT_EQ(!swap, std::dynamic_pointer_cast<GeneratorDeposit>(g) != nullptr) << type;
        EXPECT_EQ(swap ? "TEST SW" : "TEST DEP", g->id());
    }
    for (const char* type : {"deposit", "swap", "", "ir", "irs ", " dep", "ois", "IRSS"}) {
        ObjectTree t = typedSwap();
        t.put("type", std::string(type));
        expectThrowWithMessage<std::runtime_error>([&] { GeneratorFactory::build(t); },
                                                   "Error, unsupported generator type");
    }
    ObjectTree untyped = typedSwap();
    erase(untyped, "type");
    expectThrowWithMessage<boost::property_tree::ptree_bad_path>(
        [&] { GeneratorFactory::build(untyped); }, noNode + "type)");
    // A deposit type with swap keys fails on the first missing deposit key.
    ObjectTree mixed = typedSwap();
    mixed.put("type", std::string("dep"));
    expectThrowWithMessage<boost::property_tree::ptree_bad_path>(
        [&] { GeneratorFactory::build(mixed); }, noNode + "currency)");
}

TEST(Generator, RepositoryKeepsTheFirstEntryAndChecksTheClass) {
    auto& repository = GeneratorRepository::instance();
    const auto original = repository.get<Generator>("USD SOFR SW");
    const std::size_t size = repository.size();
    ObjectTree t = typedSwap();
    t.put("id", std::string("USD SOFR SW"));
    expectThrowWithMessage<std::runtime_error>(
        [&] { repository.add("USD SOFR SW", std::make_shared<GeneratorSwap>(t)); },
        "Label already registered: USD SOFR SW");
    EXPECT_EQ(original, repository.get<GeneratorSwap>("USD SOFR SW"));
    EXPECT_EQ(size, repository.size());

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
