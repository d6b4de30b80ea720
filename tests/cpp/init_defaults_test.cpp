#include "conventions/init_defaults.hpp"
#include "test_support.hpp"

#include "conventions/builtin_conventions.hpp"
#include "conventions/generator_deposit.hpp"
#include "conventions/generator_factory.hpp"
#include "conventions/generator_repository.hpp"
#include "conventions/generator_swap.hpp"
#include "conventions/index_repository.hpp"
#include "conventions/ois_index.hpp"
#include "dates/calendar_repository.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>

using namespace tsr::test;

using tsr::date;
using tsr::Generator;
using tsr::GeneratorRepository;
using tsr::GeneratorSwap;
using tsr::IndexRepository;
using tsr::OisIndex;

namespace {

// Repository sizes seen around the one call of initDefaults in this process.
std::size_t indicesBefore = 99;
std::size_t generatorsBefore = 99;

class CountingEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        indicesBefore = IndexRepository::instance().size();
        generatorsBefore = GeneratorRepository::instance().size();
        initDefaults();
    }
};

[[maybe_unused]] ::testing::Environment* const defaultsEnvironment =
    ::testing::AddGlobalTestEnvironment(new CountingEnvironment);

struct IndexRow {
    const char* id;
    const char* calendar;
    const char* dayCount;
};

const IndexRow indexRows[] = {
    {"SOFR", "USGS", "Act/360"}, {"SORA", "SG", "Act/365F"}, {"SONIA", "EN", "Act/365F"},
    {"ESTR", "TG", "Act/360"},   {"SARON", "CH", "Act/360"}, {"TONA", "JP", "Act/365F"},
};

struct GeneratorRow {
    const char* id;
    int startDelay;
    const char* calendar; // also every leg calendar
    const char* currency;
    const char* frequency;
    const char* dayCount;
    const char* payAdjustment;
    int payLag;
    const char* index;
};

const GeneratorRow generatorRows[] = {
    {"USD SOFR SW", 2, "US", "USD", "1Y", "ACT/360", "Following", 2, "SOFR"},
    {"SGD SORA SW", 2, "SG", "SGD", "6M", "ACT/365F", "Following", 2, "SORA"},
    {"GBP SONIA SW", 0, "EN", "GBP", "1Y", "ACT/365F", "Following", 0, "SONIA"},
    {"EUR ESTR SW", 2, "TG", "EUR", "1Y", "ACT/360", "Following", 2, "ESTR"},
    {"CHF SARON SW", 2, "CH", "CHF", "1Y", "ACT/360", "Following", 2, "SARON"},
    {"JPY TONA SW", 2, "JP", "JPY", "1Y", "ACT/365F", "following", 2, "TONA"},
};

std::shared_ptr<const GeneratorSwap> swapGenerator(const std::string& label) {
    return std::dynamic_pointer_cast<const GeneratorSwap>(
        GeneratorRepository::instance().get<Generator>(label));
}

} // namespace

// Six swap generators and seven futures generators.
constexpr std::size_t builtinGenerators = 13;

TEST(InitDefaults, FillsEmptyRepositoriesWithSixIndicesAndTheirGenerators) {
    EXPECT_EQ(0u, indicesBefore);
    EXPECT_EQ(0u, generatorsBefore);
    EXPECT_EQ(6u, IndexRepository::instance().size());
    EXPECT_EQ(builtinGenerators, GeneratorRepository::instance().size());
}

TEST(InitDefaults, RegistersTheOvernightIndices) {
    for (const IndexRow& row : indexRows) {
        SCOPED_TRACE(row.id);
        const auto index = IndexRepository::instance().get<OisIndex>(row.id);
        ASSERT_TRUE(index);
        EXPECT_EQ(row.id, index->id());
        EXPECT_EQ(row.calendar, index->calendar());
        EXPECT_EQ(row.dayCount, index->dayCount());
        // The index calendar is registered under that exact name.
        EXPECT_EQ(row.calendar, tsr::CalendarRepository::instance().get(index->calendar())->name());
    }
}

TEST(InitDefaults, RegistersTheSwapGenerators) {
    for (const GeneratorRow& row : generatorRows) {
        SCOPED_TRACE(row.id);
        const auto generator = swapGenerator(row.id);
        ASSERT_TRUE(generator);
        EXPECT_EQ(row.id, generator->id());
        EXPECT_EQ(row.startDelay, generator->startDelay());
        EXPECT_EQ(row.calendar, generator->calendar());
        for (const bool fixed : {true, false}) {
            SCOPED_TRACE(fixed ? "leg1" : "leg2");
            const LegConventions expected{fixed,        fixed,
                                          row.currency, row.calendar,
                                          row.index,    row.frequency,
                                          row.dayCount, "Modified Following",
                                          row.calendar, row.payAdjustment,
                                          row.calendar, row.payLag,
                                          "backward"};
            expectLegConventions(generator->legs()[fixed ? 0 : 1].get(), expected);
        }
        // The index of a generator is one of the registered ones.
        EXPECT_EQ(row.index, IndexRepository::instance().get<OisIndex>(row.index)->id());
    }
}

TEST(InitDefaults, RegistersTheSevenCalendars) {
    auto& calendars = tsr::CalendarRepository::instance();
    for (const char* name : {"USGS", "US", "SG", "TG", "EN", "JP", "CH"}) {
        EXPECT_EQ(name, calendars.get(name)->name());
    }
    // USGS and US differ on 2027-03-26 (Friday).
    EXPECT_FALSE(calendars.get("USGS")->isBusinessDay(d("2027-03-26")));
    EXPECT_TRUE(calendars.get("US")->isBusinessDay(d("2027-03-26")));
}

TEST(InitDefaults, BuiltInTextsAreTheRegisteredOnesInOrder) {
    const auto indexTexts = tsr::builtinIndexTexts();
    ASSERT_EQ(6u, indexTexts.size());
    for (std::size_t i = 0; i < indexTexts.size(); ++i) {
        const auto tree = fromJson(indexTexts[i]);
        EXPECT_EQ(indexRows[i].id, tree.get<std::string>("id"));
        EXPECT_EQ("ois", tree.get<std::string>("type"));
    }
    const auto generatorTexts = tsr::builtinGeneratorTexts();
    ASSERT_EQ(6u, generatorTexts.size());
    for (std::size_t i = 0; i < generatorTexts.size(); ++i) {
        const auto tree = fromJson(generatorTexts[i]);
        EXPECT_EQ(generatorRows[i].id, tree.get<std::string>("id"));
        // The factory reads "type" and agrees that these are swap generators.
        const auto built = tsr::GeneratorFactory::build(tree);
        EXPECT_TRUE(std::dynamic_pointer_cast<GeneratorSwap>(built)) << generatorRows[i].id;
    }
}

TEST(InitDefaults, SecondCallFailsOnTheFirstCalendarAndChangesNothing) {
    std::map<std::string, std::shared_ptr<const void>> before;
    for (const IndexRow& row : indexRows) {
        before[row.id] = IndexRepository::instance().get<OisIndex>(row.id);
    }
    for (const GeneratorRow& row : generatorRows) {
        before[row.id] = GeneratorRepository::instance().get<Generator>(row.id);
    }
    const auto usgs = tsr::CalendarRepository::instance().get("USGS");

    try {
        initDefaults();
        FAIL() << "a second call must fail";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("Calendar already registered: USGS", e.what());
    }

    EXPECT_EQ(6u, IndexRepository::instance().size());
    EXPECT_EQ(builtinGenerators, GeneratorRepository::instance().size());
    EXPECT_EQ(usgs, tsr::CalendarRepository::instance().get("USGS"));
    for (const IndexRow& row : indexRows) {
        EXPECT_EQ(before[row.id], IndexRepository::instance().get<OisIndex>(row.id)) << row.id;
    }
    for (const GeneratorRow& row : generatorRows) {
        EXPECT_EQ(before[row.id], GeneratorRepository::instance().get<Generator>(row.id)) << row.id;
    }
}

TEST(InitDefaults, LabelsAreExact) {
    // Generator labels are checked with the generator repository's own tests.
    for (const char* label : {"sofr", "SOFR ", " SOFR", "Sofr", "SOFR\t", ""}) {
        expectThrowWithMessage<std::out_of_range>(
            [&] { (void)IndexRepository::instance().get<OisIndex>(label); },
            std::string("No object registered under label: ") + label);
    }
    // Indices and generators live in separate repositories.
    EXPECT_THROW((void)GeneratorRepository::instance().get<Generator>("SOFR"), std::out_of_range);
    EXPECT_THROW((void)IndexRepository::instance().get<OisIndex>("USD SOFR SW"), std::out_of_range);
}
