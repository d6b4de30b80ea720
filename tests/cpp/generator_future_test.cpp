#include "conventions/generator_future.hpp"
#include "conventions/generator_repository.hpp"
#include "test_support.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using tsr::GeneratorFuture;
using tsr::GeneratorRepository;

namespace {

[[maybe_unused]] ::testing::Environment* const defaults = tsr::test::useDefaults();

std::string iso(const tsr::date& d) {
    return boost::gregorian::to_iso_extended_string(d);
}

struct PeriodCase {
    const char* generator;
    const char* month;
    const char* start;
    const char* end;
};

// 1M: the calendar month; 3M: third Wednesday to the third Wednesday three months later,
// across a year end too.
const PeriodCase periodCases[] = {
    {"USD SOFR 1M FUT", "2026-12", "2026-12-01", "2027-01-01"},
    {"USD SOFR 1M FUT", "2028-02", "2028-02-01", "2028-03-01"},
    {"USD SOFR 3M FUT", "2026-12", "2026-12-16", "2027-03-17"},
    {"EUR ESTR 3M FUT", "2027-03", "2027-03-17", "2027-06-16"},
    {"JPY TONA 3M FUT", "2026-09", "2026-09-16", "2026-12-16"},
};

TEST(GeneratorFuture, ReferencePeriodsOfContractMonths) {
    for (const PeriodCase& c : periodCases) {
        const auto generator = GeneratorRepository::instance().get<GeneratorFuture>(c.generator);
        const auto [start, end] = generator->referencePeriod(c.month);
        EXPECT_EQ(iso(start), c.start) << c.generator << " " << c.month;
        EXPECT_EQ(iso(end), c.end) << c.generator << " " << c.month;
    }
}

TEST(GeneratorFuture, RefusesWhatIsNoContractMonthOrPrice) {
    const auto generator = GeneratorRepository::instance().get<GeneratorFuture>("USD SOFR 3M FUT");
    for (const char* bad : {"2026-13", "2026-00", "26-12", "2026/12", "2026-1", "", "Dec26"}) {
        EXPECT_THROW(generator->referencePeriod(bad), std::invalid_argument) << bad;
    }
    for (const double price : {0.0, -1.0, 200.5}) {
        EXPECT_THROW(tsr::requireFuturesPrice(price, "row 0"), std::invalid_argument) << price;
    }
    EXPECT_NO_THROW(tsr::requireFuturesPrice(200.0, "row 0"));
}

} // namespace
