#include "conventions/generator_swap.hpp"
#include "conventions/schedule_roll.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace tsr::test;
using tsr::date;
using tsr::GeneratorSwap;
using tsr::ScheduleRoll;

namespace {

[[maybe_unused]] ::testing::Environment* const defaultsEnvironment = useDefaults();

struct Schedule {
    std::vector<date> starts;
    std::vector<date> ends;
    std::vector<date> payments;
    std::vector<double> fractions;
};

Schedule generate(LegConventions conventions, date start, date end) {
    // The leg's own calendar plays no part in the schedule.
    conventions.calendar = "NOT A CALENDAR";
    const GeneratorSwap::SwapLegFixed leg(legTree(conventions));
    Schedule s;
    leg.generate(start, end, s.starts, s.ends, s.payments, s.fractions);
    return s;
}

LegConventions with(const std::function<void(LegConventions&)>& change) {
    LegConventions conventions;
    change(conventions);
    return conventions;
}

// Accrual dates as one ascending list: the first start, then every end.
std::vector<date> accrualDates(const Schedule& s) {
    std::vector<date> out;
    if (!s.starts.empty()) {
        out.push_back(s.starts.front());
    }
    out.insert(out.end(), s.ends.begin(), s.ends.end());
    return out;
}

} // namespace

TEST(SwapLegSchedule, WorkedExampleOfTheDollarSwap) {
    const Schedule s = generate(LegConventions{}, d("2026-01-15"), d("2027-07-15"));
    EXPECT_EQ(dates({"2026-01-15", "2026-07-15"}), s.starts);
    EXPECT_EQ(dates({"2026-07-15", "2027-07-15"}), s.ends);
    EXPECT_EQ(dates({"2026-07-17", "2027-07-19"}), s.payments);
    EXPECT_EQ((std::vector<double>{181.0 / 360.0, 365.0 / 360.0}), s.fractions);
}

TEST(SwapLegSchedule, StartOnOrAfterTheEnd) {
    for (const char* roll : {"Backward", "Forward"}) {
        const LegConventions conventions = with([&](LegConventions& s) { s.roll = roll; });
        // Equal dates: no period, and whatever the outputs held is cleared.
        const GeneratorSwap::SwapLegFixed leg(legTree(conventions));
        std::vector<date> starts{d("2000-01-01")}, ends{d("2000-01-01"), d("2000-01-02")},
            payments{d("2000-01-03")};
        std::vector<double> fractions{1.0, 2.0, 3.0};
        leg.generate(d("2026-03-16"), d("2026-03-16"), starts, ends, payments, fractions);
        EXPECT_TRUE(starts.empty() && ends.empty() && payments.empty() && fractions.empty())
            << roll;
        // Start after end: one backward period for both rolls.
        const Schedule s = generate(conventions, d("2027-01-15"), d("2026-01-15"));
        EXPECT_EQ(dates({"2027-01-15"}), s.starts) << roll;
        EXPECT_EQ(dates({"2026-01-15"}), s.ends) << roll;
        // Two US business days after Thursday 2026-01-15, Monday 2026-01-19 being a holiday.
        EXPECT_EQ(dates({"2026-01-20"}), s.payments) << roll;
        EXPECT_EQ((std::vector<double>{-365.0 / 360.0}), s.fractions) << roll;
    }
}

TEST(SwapLegSchedule, UnadjustedDatesStepFromTheAnchor) {
    const struct {
        const char* roll;
        const char* frequency;
        const char* start;
        const char* end;
        std::vector<date> expected;
    } cases[] = {
        // The day is clamped per target month and not carried from the previous date.
        {"Forward", "1M", "2026-01-31", "2026-04-30",
         dates({"2026-01-31", "2026-02-28", "2026-03-31", "2026-04-30"})},
        {"Backward", "1M", "2025-12-31", "2026-03-31",
         dates({"2025-12-31", "2026-01-31", "2026-02-28", "2026-03-31"})},
        {"Forward", "6M", "2026-01-15", "2027-01-15",
         dates({"2026-01-15", "2026-07-15", "2027-01-15"})},
        {"Backward", "6M", "2026-01-15", "2027-01-15",
         dates({"2026-01-15", "2026-07-15", "2027-01-15"})},
        // The stub is last rolling forward and first rolling backward; letter case is free.
        {"FORWARD", "6M", "2026-01-15", "2026-12-15",
         dates({"2026-01-15", "2026-07-15", "2026-12-15"})},
        {"bAcKwArD", "6M", "2026-01-15", "2026-12-15",
         dates({"2026-01-15", "2026-06-15", "2026-12-15"})},
        // A stub of a single day is kept, never merged into its neighbour.
        {"Forward", "1M", "2026-01-15", "2026-03-16",
         dates({"2026-01-15", "2026-02-15", "2026-03-15", "2026-03-16"})},
        {"Backward", "1M", "2026-01-14", "2026-03-15",
         dates({"2026-01-14", "2026-01-15", "2026-02-15", "2026-03-15"})},
        {"Backward", "1Y", "2026-01-15", "2026-04-15", dates({"2026-01-15", "2026-04-15"})},
        {"Forward", "2W", "2026-01-05", "2026-02-09",
         dates({"2026-01-05", "2026-01-19", "2026-02-02", "2026-02-09"})},
        {"Backward", "3D", "2026-01-01", "2026-01-08",
         dates({"2026-01-01", "2026-01-02", "2026-01-05", "2026-01-08"})},
        {"Backward", "1Y", "2026-03-01", "2028-02-29",
         dates({"2026-03-01", "2027-02-28", "2028-02-29"})},
        {"forward", "6m", "2026-01-15", "2027-01-15",
         dates({"2026-01-15", "2026-07-15", "2027-01-15"})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.roll) + " " + c.frequency + " " + c.start + ".." + c.end);
        const Schedule s = generate(with([&](LegConventions& conventions) {
                                        conventions.roll = c.roll;
                                        conventions.frequency = c.frequency;
                                        conventions.accrualAdjustment = "No Adjustment";
                                    }),
                                    d(c.start), d(c.end));
        EXPECT_EQ(c.expected, accrualDates(s));
        ASSERT_EQ(s.starts.size(), s.fractions.size());
        for (std::size_t i = 0; i < s.starts.size(); ++i) {
            EXPECT_EQ((s.ends[i] - s.starts[i]).days() / 360.0, s.fractions[i]) << "period " << i;
        }
    }
}

TEST(SwapLegSchedule, ParseScheduleRoll) {
    EXPECT_EQ(ScheduleRoll::Backward, tsr::parseScheduleRoll("BACKWARD"));
    EXPECT_EQ(ScheduleRoll::Forward, tsr::parseScheduleRoll("forward"));
    expectThrowWithMessage<std::invalid_argument>([] { tsr::parseScheduleRoll(""); },
                                                  "empty string");
    for (const char* bad : {"back", "Backward ", " Forward", "Fwd", "B"}) {
        expectThrowWithMessage<std::invalid_argument>([bad] { tsr::parseScheduleRoll(bad); },
                                                      "unknown value");
    }
}

TEST(SwapLegSchedule, AccrualDatesIncludingFirstAndLastAreAdjusted) {
    // 2026-02-28 is a Saturday (Modified Following stays in February: Friday 2026-02-27) and
    // 2026-05-31 a Sunday (Friday 2026-05-29). Convention names ignore letter case.
    for (const char* adjustment : {"Modified Following", "MODIFIED FOLLOWING"}) {
        const Schedule s = generate(with([&](LegConventions& conventions) {
                                        conventions.frequency = "1M";
                                        conventions.accrualAdjustment = adjustment;
                                    }),
                                    d("2026-02-28"), d("2026-05-31"));
        EXPECT_EQ(dates({"2026-02-27", "2026-03-31", "2026-04-30", "2026-05-29"}), accrualDates(s));
        EXPECT_EQ((std::vector<double>{32.0 / 360.0, 30.0 / 360.0, 29.0 / 360.0}), s.fractions);
        EXPECT_EQ(dates({"2026-04-02", "2026-05-04", "2026-06-02"}), s.payments);
    }
    // A union accrual calendar needs both: Saturday 2026-04-04 rolls past Easter Monday
    // 2026-04-06, and 2026-05-04 is an EN holiday but a US business day.
    const Schedule u = generate(with([](LegConventions& s) {
                                    s.accrualCalendar = "US,EN";
                                    s.frequency = "1M";
                                    s.roll = "Forward";
                                }),
                                d("2026-04-04"), d("2026-05-04"));
    EXPECT_EQ(dates({"2026-04-07", "2026-05-05"}), accrualDates(u));
    // Without adjustment the accrual calendar is never looked up. Sunday 2027-01-31 is paid
    // two US business days later.
    const Schedule n = generate(with([](LegConventions& s) {
                                    s.accrualAdjustment = "No Adjustment";
                                    s.accrualCalendar = "NOWHERE";
                                }),
                                d("2026-01-31"), d("2027-01-31"));
    EXPECT_EQ(dates({"2026-01-31", "2027-01-31"}), accrualDates(n));
    EXPECT_EQ(dates({"2027-02-02"}), n.payments);
}

TEST(SwapLegSchedule, ZeroLengthPeriodsAfterAdjustmentAreKept) {
    // Saturday and Sunday both roll to Monday 2026-01-12.
    const Schedule s = generate(with([](LegConventions& conventions) {
                                    conventions.frequency = "1D";
                                    conventions.roll = "Forward";
                                    conventions.accrualAdjustment = "Following";
                                    conventions.payLag = 0;
                                }),
                                d("2026-01-09"), d("2026-01-13"));
    EXPECT_EQ(dates({"2026-01-09", "2026-01-12", "2026-01-12", "2026-01-12"}), s.starts);
    EXPECT_EQ(dates({"2026-01-12", "2026-01-12", "2026-01-12", "2026-01-13"}), s.ends);
    EXPECT_EQ(dates({"2026-01-12", "2026-01-12", "2026-01-12", "2026-01-13"}), s.payments);
    EXPECT_EQ((std::vector<double>{3.0 / 360.0, 0.0, 0.0, 1.0 / 360.0}), s.fractions);
}

TEST(SwapLegSchedule, PaymentDateFollowsLagAdjustmentAndPayCalendar) {
    const struct {
        int payLag;
        const char* payAdjustment;
        const char* payCalendar;
        const char* end; // the unadjusted and unadjusting accrual end
        const char* expected;
    } cases[] = {
        // 2026-01-31 is a Saturday: a negative lag keeps it whatever the adjustment.
        {-1, "Following", "US", "2026-01-31", "2026-01-31"},
        {-3, "Preceding", "US", "2026-01-31", "2026-01-31"},
        {0, "Following", "US", "2026-01-31", "2026-02-02"},
        {0, "Modified Following", "US", "2026-01-31", "2026-01-30"},
        {0, "Preceding", "US", "2026-01-31", "2026-01-30"},
        {0, "No Adjustment", "US", "2026-01-31", "2026-01-31"},
        // A lag counts from the weekend date and ignores the adjustment.
        {1, "Preceding", "US", "2026-01-31", "2026-02-02"},
        {2, "Preceding", "US", "2026-01-31", "2026-02-03"},
        // 2027-03-26 (Friday) is a holiday of USGS only.
        {1, "Following", "US", "2027-03-25", "2027-03-26"},
        {1, "Following", "USGS", "2027-03-25", "2027-03-29"},
        // 2026-05-04 (Monday) is a holiday of EN only.
        {1, "Following", "US,EN", "2026-05-01", "2026-05-05"},
        {1, "Following", " EN , US ", "2026-05-01", "2026-05-05"},
        // Lag counted over the US Independence Day holiday, Friday 2026-07-03.
        {2, "Following", "US", "2026-07-01", "2026-07-06"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.payLag) + " " + c.payAdjustment + " " + c.payCalendar + " " +
                     c.end);
        const date end = d(c.end);
        const Schedule s = generate(with([&](LegConventions& conventions) {
                                        conventions.accrualAdjustment = "No Adjustment";
                                        conventions.payLag = c.payLag;
                                        conventions.payAdjustment = c.payAdjustment;
                                        conventions.payCalendar = c.payCalendar;
                                    }),
                                    end - boost::gregorian::days(10), end);
        ASSERT_EQ(1u, s.payments.size());
        EXPECT_EQ(end, s.ends[0]);
        EXPECT_EQ(d(c.expected), s.payments[0]);
    }
}

TEST(SwapLegSchedule, FractionsFollowTheDayCountOfEachPeriod) {
    const struct {
        const char* dayCount;
        std::vector<double> expected;
    } cases[] = {
        {"Act/360", {28.0 / 360.0, 31.0 / 360.0, 30.0 / 360.0}},
        {"ACT/365F", {28.0 / 365.0, 31.0 / 365.0, 30.0 / 365.0}},
        // 30/360: day 31 at the end stays 31 after a start on the 28th.
        {"30/360", {28.0 / 360.0, 33.0 / 360.0, 30.0 / 360.0}},
        {"30E/360", {28.0 / 360.0, 32.0 / 360.0, 30.0 / 360.0}},
        {"Act/Act", {28.0 / 365.0, 31.0 / 365.0, 30.0 / 365.0}},
    };
    for (const auto& c : cases) {
        const Schedule s = generate(with([&](LegConventions& conventions) {
                                        conventions.roll = "Forward";
                                        conventions.frequency = "1M";
                                        conventions.accrualAdjustment = "No Adjustment";
                                        conventions.dayCount = c.dayCount;
                                    }),
                                    d("2026-01-31"), d("2026-04-30"));
        EXPECT_EQ(c.expected, s.fractions) << c.dayCount;
    }
}

TEST(SwapLegSchedule, FailsWithTheMessageOfTheFirstBadConvention) {
    enum Kind { InvalidArgument, LogicError, RuntimeError };
    const struct {
        std::function<void(LegConventions&)> change;
        bool noPeriods; // start equal to end
        Kind kind;
        const char* message;
    } cases[] = {
        {[](LegConventions& s) { s.roll = "back"; }, false, InvalidArgument, "unknown value"},
        {[](LegConventions& s) { s.roll = ""; }, false, InvalidArgument, "empty string"},
        // The roll is read before the frequency, the frequency before the accrual adjustment.
        {[](LegConventions& s) { s.roll = "Backwards", s.frequency = "0M"; }, false,
         InvalidArgument, "unknown value"},
        {[](LegConventions& s) { s.frequency = "0M"; }, false, LogicError,
         "Error, non-positive amount for the tenor."},
        // Even without any period the first multiple of the frequency is formed.
        {[](LegConventions& s) { s.frequency = "0D"; }, true, LogicError,
         "Error, non-positive amount for the tenor."},
        {[](LegConventions& s) { s.frequency = "2BD", s.roll = "Forward"; }, false, RuntimeError,
         "Error, addTenor is called with invalid arguments."},
        {[](LegConventions& s) { s.frequency = "1b"; }, false, RuntimeError,
         "Error, subtractTenor is called with invalid arguments."},
        {[](LegConventions& s) { s.frequency = "1X"; }, false, RuntimeError,
         "Error, invalid tenor :1X"},
        {[](LegConventions& s) { s.frequency = "1 Y", s.accrualAdjustment = "Mod Following"; },
         false, RuntimeError, "Error, invalid tenor input: 1 Y"},
        {[](LegConventions& s) { s.accrualAdjustment = "Modified Following "; }, false,
         InvalidArgument, "unknown value"},
        {[](LegConventions& s) { s.accrualCalendar = "us"; }, false, RuntimeError,
         "Calendar not found: us"},
        {[](LegConventions& s) {
             s.accrualAdjustment = "No Adjustment", s.accrualCalendar = "ALSO NOWHERE",
             s.payCalendar = "NOWHERE";
         },
         false, RuntimeError, "Calendar not found: NOWHERE"},
        // The pay calendar is resolved even when the schedule has no period.
        {[](LegConventions& s) { s.payCalendar = "XX"; }, true, RuntimeError,
         "Calendar not found: XX"},
        {[](LegConventions& s) { s.payCalendar = "US,XX", s.payAdjustment = "Next"; }, false,
         RuntimeError, "Calendar not found: XX"},
        {[](LegConventions& s) { s.payCalendar = " , "; }, false, InvalidArgument,
         "Empty calendar name"},
        // The pay adjustment is parsed although a lag makes it unnecessary.
        {[](LegConventions& s) { s.payAdjustment = "F"; }, false, InvalidArgument, "unknown value"},
        {[](LegConventions& s) { s.dayCount = "Act/365"; }, false, InvalidArgument,
         "unknown value"},
        {[](LegConventions& s) { s.dayCount = "Actual/360"; }, true, InvalidArgument,
         "unknown value"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE("case " + std::to_string(n++));
        const LegConventions conventions = with(c.change);
        const auto run = [&] {
            generate(conventions, d("2026-01-15"), d(c.noPeriods ? "2026-01-15" : "2027-01-15"));
        };
        switch (c.kind) {
        case InvalidArgument:
            expectThrowWithMessage<std::invalid_argument>(run, c.message);
            break;
        case LogicError:
            expectThrowWithMessage<std::logic_error>(run, c.message);
            break;
        case RuntimeError:
            expectThrowWithMessage<std::runtime_error>(run, c.message);
            break;
        }
    }
}
