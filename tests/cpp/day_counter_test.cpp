#include "dates/day_counter.hpp"
#include "test_support.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using namespace tsr::test;

using tsr::date;
using tsr::DayCounter;
using Convention = DayCounter::Convention;

namespace {

constexpr Convention allConventions[] = {Convention::Act360, Convention::Act365F,
                                         Convention::ActAct, Convention::Thirty360,
                                         Convention::ThirtyE360};

} // namespace

TEST(DayCounter, NamesAreMatchedIgnoringLetterCase) {
    const std::vector<std::pair<std::string, Convention>> accepted = {
        {"Act/360", Convention::Act360},     {"ACT/360", Convention::Act360},
        {"act/360", Convention::Act360},     {"Act/365F", Convention::Act365F},
        {"ACT/365F", Convention::Act365F},   {"act/365f", Convention::Act365F},
        {"Act/Act", Convention::ActAct},     {"ACT/ACT", Convention::ActAct},
        {"30/360", Convention::Thirty360},   {"30E/360", Convention::ThirtyE360},
        {"30e/360", Convention::ThirtyE360},
    };
    for (const auto& [name, convention] : accepted) {
        EXPECT_EQ(convention, DayCounter(name).convention()) << name;
    }
    expectThrowWithMessage<std::invalid_argument>([] { (void)DayCounter(""); }, "empty string");
    for (const char* name :
         {"Act/365", "30/360 ", "Actual/360", "A", "30E360", " Act/360", "Act/365Fixed"}) {
        expectThrowWithMessage<std::invalid_argument>([&] { (void)DayCounter(name); },
                                                      "unknown value");
    }
    EXPECT_EQ(Convention::ThirtyE360, DayCounter(Convention::ThirtyE360).convention());
}

TEST(DayCounter, FractionsFollowEachConvention) {
    const struct {
        Convention convention;
        const char* start;
        const char* end;
        double expected;
    } cases[] = {
        {Convention::Act360, "2026-01-01", "2026-07-01", 181.0 / 360},
        {Convention::Act360, "2026-07-01", "2026-01-01", -181.0 / 360},
        {Convention::Act360, "2027-12-31", "2028-12-31", 366.0 / 360},
        {Convention::Act365F, "2026-01-01", "2026-07-01", 181.0 / 365},
        {Convention::Act365F, "2026-07-01", "2026-01-01", -181.0 / 365},
        {Convention::Act365F, "2028-01-01", "2029-01-01", 366.0 / 365},

        {Convention::Thirty360, "2026-01-31", "2026-02-28", 28.0 / 360},
        {Convention::Thirty360, "2026-01-30", "2026-03-31", 60.0 / 360},
        {Convention::Thirty360, "2026-01-29", "2026-03-31", 62.0 / 360},
        {Convention::Thirty360, "2026-01-31", "2026-03-31", 60.0 / 360},
        {Convention::Thirty360, "2026-02-28", "2026-03-31", 33.0 / 360},
        {Convention::Thirty360, "2026-03-31", "2026-01-31", -60.0 / 360},
        {Convention::Thirty360, "2026-06-15", "2031-06-15", 5.0},
        {Convention::Thirty360, "2026-12-15", "2027-01-15", 30.0 / 360},

        {Convention::ThirtyE360, "2026-01-29", "2026-03-31", 61.0 / 360},
        {Convention::ThirtyE360, "2026-01-31", "2026-03-31", 60.0 / 360},
        {Convention::ThirtyE360, "2026-02-28", "2026-03-31", 32.0 / 360},
        {Convention::ThirtyE360, "2026-03-31", "2026-01-29", -61.0 / 360},
        {Convention::ThirtyE360, "2026-08-31", "2027-02-28", 178.0 / 360},

        {Convention::ActAct, "2026-01-01", "2027-01-01", 1.0},
        {Convention::ActAct, "2027-07-01", "2028-07-01", 184.0 / 365 + 182.0 / 366},
        {Convention::ActAct, "2028-03-01", "2028-03-31", 30.0 / 366},
        {Convention::ActAct, "2026-03-01", "2026-03-31", 30.0 / 365},
        {Convention::ActAct, "2027-06-30", "2026-06-30", -1.0},
        // Reversed dates use the basis of the later argument's year, the earlier date.
        {Convention::ActAct, "2028-07-01", "2027-07-01", -366.0 / 365},
        {Convention::ActAct, "2029-03-01", "2028-03-01", -365.0 / 366},
        {Convention::ActAct, "2027-07-01", "2030-03-01",
         184.0 / 365 + 366.0 / 366 + 365.0 / 365 + 59.0 / 365},
        {Convention::ActAct, "2027-12-31", "2028-01-01", 1.0 / 365},
        {Convention::ActAct, "2028-12-31", "2029-01-01", 1.0 / 366},
        // 2100 is not a leap year, 2000 is.
        {Convention::ActAct, "2100-01-01", "2101-01-01", 1.0},
        {Convention::ActAct, "2000-02-01", "2000-03-01", 29.0 / 366},
        {Convention::ActAct, "2100-02-01", "2100-03-01", 28.0 / 365},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(c.expected, DayCounter(c.convention).fraction(d(c.start), d(c.end)))
            << static_cast<int>(c.convention) << " " << c.start << " to " << c.end;
    }
}

TEST(DayCounter, ADateWithItselfIsZeroUnderEveryConvention) {
    for (const auto convention : allConventions) {
        for (const char* text : {"2026-01-31", "2028-02-29", "2026-12-31"}) {
            EXPECT_EQ(0.0, DayCounter(convention).fraction(d(text), d(text)))
                << static_cast<int>(convention) << " " << text;
        }
    }
}

TEST(DayCounter, SpecialDatesAndConventionsOutsideTheTableFail) {
    const date special(boost::date_time::not_a_date_time);
    const date day = d("2026-01-01");
    for (const auto convention :
         {Convention::ActAct, Convention::Thirty360, Convention::ThirtyE360}) {
        EXPECT_THROW((void)DayCounter(convention).fraction(special, day), std::out_of_range);
        EXPECT_THROW((void)DayCounter(convention).fraction(day, special), std::out_of_range);
    }
    expectThrowWithMessage<std::logic_error>(
        [&] { (void)DayCounter(static_cast<Convention>(5)).fraction(day, d("2026-02-01")); },
        "Error, programming error.");
}
