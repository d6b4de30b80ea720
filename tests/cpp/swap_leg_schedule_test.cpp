#include "conventions/generator_swap.hpp"
#include "conventions/init_defaults.hpp"
#include "conventions/schedule_roll.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

using tsr::date;
using tsr::GeneratorSwap;
using tsr::ObjectTree;
using tsr::ScheduleRoll;

namespace {

class DefaultsEnvironment : public ::testing::Environment {
public:
    void SetUp() override { initDefaults(); }
};

[[maybe_unused]] ::testing::Environment* const defaultsEnvironment =
    ::testing::AddGlobalTestEnvironment(new DefaultsEnvironment);

date d(const char* iso) {
    return boost::gregorian::from_simple_string(iso);
}

// The leg conventions that generate() reads; defaults are those of the dollar swap.
struct LegSpec {
    std::string frequency = "1Y";
    std::string roll = "backward";
    std::string accrualAdjustment = "Modified Following";
    std::string accrualCalendar = "US";
    std::string payAdjustment = "Following";
    std::string payCalendar = "US";
    int payLag = 2;
    std::string dayCount = "ACT/360";
};

ObjectTree legTree(const LegSpec& spec) {
    ObjectTree t;
    t.add("currency", std::string("USD"));
    t.add("is fixed", true);
    t.add("is paid", true);
    // The leg's own calendar plays no part in the schedule.
    t.add("calendar", std::string("NOT A CALENDAR"));
    t.add("frequency", spec.frequency);
    t.add("day count convention", spec.dayCount);
    t.add("accrual adjustment", spec.accrualAdjustment);
    t.add("accrual calendar", spec.accrualCalendar);
    t.add("pay adjustment", spec.payAdjustment);
    t.add("pay calendar", spec.payCalendar);
    t.add("pay lag", spec.payLag);
    t.add("roll", spec.roll);
    return t;
}

struct Schedule {
    std::vector<date> starts;
    std::vector<date> ends;
    std::vector<date> payments;
    std::vector<double> fractions;
};

Schedule generate(const LegSpec& spec, date start, date end) {
    const GeneratorSwap::SwapLegFixed leg(legTree(spec));
    Schedule s;
    leg.generate(start, end, s.starts, s.ends, s.payments, s.fractions);
    return s;
}

// Accrual dates as one ascending list: the first start, then every end.
std::vector<date> accrualDates(const Schedule& s) {
    std::vector<date> dates;
    if (!s.starts.empty()) {
        dates.push_back(s.starts.front());
    }
    dates.insert(dates.end(), s.ends.begin(), s.ends.end());
    return dates;
}

std::vector<date> dates(std::initializer_list<const char*> isos) {
    std::vector<date> out;
    for (const char* iso : isos) {
        out.push_back(d(iso));
    }
    return out;
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

} // namespace

TEST(SwapLegSchedule, WorkedExampleOfTheDollarSwap) {
    const Schedule s = generate(LegSpec{}, d("2026-01-15"), d("2027-07-15"));
    EXPECT_EQ(dates({"2026-01-15", "2026-07-15"}), s.starts);
    EXPECT_EQ(dates({"2026-07-15", "2027-07-15"}), s.ends);
    EXPECT_EQ(dates({"2026-07-17", "2027-07-19"}), s.payments);
    EXPECT_EQ((std::vector<double>{181.0 / 360.0, 365.0 / 360.0}), s.fractions);
}

TEST(SwapLegSchedule, StartEqualToEndGivesNoPeriodAndClearsTheOutputs) {
    for (const char* roll : {"Backward", "Forward"}) {
        LegSpec spec;
        spec.roll = roll;
        const GeneratorSwap::SwapLegFixed leg(legTree(spec));
        std::vector<date> starts{d("2000-01-01")}, ends{d("2000-01-01"), d("2000-01-02")},
            payments{d("2000-01-03")};
        std::vector<double> fractions{1.0, 2.0, 3.0};
        leg.generate(d("2026-03-16"), d("2026-03-16"), starts, ends, payments, fractions);
        EXPECT_TRUE(starts.empty()) << roll;
        EXPECT_TRUE(ends.empty()) << roll;
        EXPECT_TRUE(payments.empty()) << roll;
        EXPECT_TRUE(fractions.empty()) << roll;
    }
}

TEST(SwapLegSchedule, StartAfterEndGivesOneBackwardPeriodForBothRolls) {
    for (const char* roll : {"Backward", "Forward"}) {
        LegSpec spec;
        spec.roll = roll;
        const Schedule s = generate(spec, d("2027-01-15"), d("2026-01-15"));
        EXPECT_EQ(dates({"2027-01-15"}), s.starts) << roll;
        EXPECT_EQ(dates({"2026-01-15"}), s.ends) << roll;
        // Two US business days after Thursday 2026-01-15, Monday 2026-01-19 being a holiday.
        EXPECT_EQ(dates({"2026-01-20"}), s.payments) << roll;
        EXPECT_EQ((std::vector<double>{-365.0 / 360.0}), s.fractions) << roll;
    }
}

struct RollCase {
    const char* name;
    const char* roll;
    const char* frequency;
    const char* start;
    const char* end;
    std::vector<date> expected; // unadjusted ("No Adjustment") accrual dates
};

void PrintTo(const RollCase& c, std::ostream* os) {
    *os << c.name;
}

class SwapLegScheduleRoll : public ::testing::TestWithParam<RollCase> {};

TEST_P(SwapLegScheduleRoll, UnadjustedDatesStepFromTheAnchor) {
    const RollCase& c = GetParam();
    LegSpec spec;
    spec.roll = c.roll;
    spec.frequency = c.frequency;
    spec.accrualAdjustment = "No Adjustment";
    const Schedule s = generate(spec, d(c.start), d(c.end));
    EXPECT_EQ(c.expected, accrualDates(s));
    ASSERT_EQ(s.starts.size(), s.fractions.size());
    for (std::size_t i = 0; i < s.starts.size(); ++i) {
        EXPECT_EQ((s.ends[i] - s.starts[i]).days() / 360.0, s.fractions[i]) << "period " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    SwapLegSchedule, SwapLegScheduleRoll,
    ::testing::Values(
        // The day is clamped per target month and not carried from the previous date.
        RollCase{"ForwardMonthlyFromMonthEnd", "Forward", "1M", "2026-01-31", "2026-04-30",
                 dates({"2026-01-31", "2026-02-28", "2026-03-31", "2026-04-30"})},
        RollCase{"BackwardMonthlyFromMonthEnd", "Backward", "1M", "2025-12-31", "2026-03-31",
                 dates({"2025-12-31", "2026-01-31", "2026-02-28", "2026-03-31"})},
        RollCase{"ForwardWholeMultipleHasNoStub", "Forward", "6M", "2026-01-15", "2027-01-15",
                 dates({"2026-01-15", "2026-07-15", "2027-01-15"})},
        RollCase{"BackwardWholeMultipleHasNoStub", "Backward", "6M", "2026-01-15", "2027-01-15",
                 dates({"2026-01-15", "2026-07-15", "2027-01-15"})},
        RollCase{"ForwardStubIsLast", "Forward", "6M", "2026-01-15", "2026-12-15",
                 dates({"2026-01-15", "2026-07-15", "2026-12-15"})},
        RollCase{"BackwardStubIsFirst", "Backward", "6M", "2026-01-15", "2026-12-15",
                 dates({"2026-01-15", "2026-06-15", "2026-12-15"})},
        // A stub of a single day is kept, never merged into its neighbour.
        RollCase{"ForwardOneDayStubIsKept", "Forward", "1M", "2026-01-15", "2026-03-16",
                 dates({"2026-01-15", "2026-02-15", "2026-03-15", "2026-03-16"})},
        RollCase{"BackwardOneDayStubIsKept", "Backward", "1M", "2026-01-14", "2026-03-15",
                 dates({"2026-01-14", "2026-01-15", "2026-02-15", "2026-03-15"})},
        RollCase{"PeriodLongerThanTheSwapIsOneStub", "Backward", "1Y", "2026-01-15", "2026-04-15",
                 dates({"2026-01-15", "2026-04-15"})},
        RollCase{"WeeklyForward", "Forward", "2W", "2026-01-05", "2026-02-09",
                 dates({"2026-01-05", "2026-01-19", "2026-02-02", "2026-02-09"})},
        RollCase{"DailyBackward", "Backward", "3D", "2026-01-01", "2026-01-08",
                 dates({"2026-01-01", "2026-01-02", "2026-01-05", "2026-01-08"})},
        RollCase{"LeapDayEndBackwardYearly", "Backward", "1Y", "2026-03-01", "2028-02-29",
                 dates({"2026-03-01", "2027-02-28", "2028-02-29"})},
        RollCase{"LowerCaseFrequency", "forward", "6m", "2026-01-15", "2027-01-15",
                 dates({"2026-01-15", "2026-07-15", "2027-01-15"})}),
    [](const ::testing::TestParamInfo<RollCase>& info) { return std::string(info.param.name); });

TEST(SwapLegSchedule, RollNamesIgnoreLetterCase) {
    const date start = d("2026-01-15");
    const date end = d("2026-12-15");
    for (const char* roll : {"backward", "Backward", "BACKWARD", "bAcKwArD"}) {
        LegSpec spec;
        spec.roll = roll;
        spec.frequency = "6M";
        EXPECT_EQ(dates({"2026-01-15", "2026-06-15", "2026-12-15"}),
                  accrualDates(generate(spec, start, end)))
            << roll;
    }
    for (const char* roll : {"forward", "Forward", "FORWARD"}) {
        LegSpec spec;
        spec.roll = roll;
        spec.frequency = "6M";
        EXPECT_EQ(dates({"2026-01-15", "2026-07-15", "2026-12-15"}),
                  accrualDates(generate(spec, start, end)))
            << roll;
    }
}

TEST(SwapLegSchedule, ParseScheduleRoll) {
    EXPECT_EQ(0, static_cast<int>(ScheduleRoll::Backward));
    EXPECT_EQ(1, static_cast<int>(ScheduleRoll::Forward));
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
    // 2026-05-31 a Sunday (Friday 2026-05-29).
    LegSpec spec;
    spec.frequency = "1M";
    const Schedule s = generate(spec, d("2026-02-28"), d("2026-05-31"));
    EXPECT_EQ(dates({"2026-02-27", "2026-03-31", "2026-04-30", "2026-05-29"}), accrualDates(s));
    EXPECT_EQ((std::vector<double>{32.0 / 360.0, 30.0 / 360.0, 29.0 / 360.0}), s.fractions);
    EXPECT_EQ(dates({"2026-04-02", "2026-05-04", "2026-06-02"}), s.payments);
}

TEST(SwapLegSchedule, AdjustmentNamesIgnoreLetterCase) {
    LegSpec upper;
    upper.frequency = "1M";
    upper.accrualAdjustment = "MODIFIED FOLLOWING";
    upper.payAdjustment = "FOLLOWING";
    upper.dayCount = "act/360";
    LegSpec plain;
    plain.frequency = "1M";
    const Schedule a = generate(upper, d("2026-02-28"), d("2026-05-31"));
    const Schedule b = generate(plain, d("2026-02-28"), d("2026-05-31"));
    EXPECT_EQ(b.starts, a.starts);
    EXPECT_EQ(b.ends, a.ends);
    EXPECT_EQ(b.payments, a.payments);
    EXPECT_EQ(b.fractions, a.fractions);
}

TEST(SwapLegSchedule, UnionAccrualCalendarNeedsBothCalendars) {
    // 2026-05-04 is an EN holiday and a US business day.
    LegSpec spec;
    spec.accrualCalendar = "US,EN";
    spec.frequency = "1M";
    spec.roll = "Forward";
    const Schedule s = generate(spec, d("2026-04-04"), d("2026-05-04"));
    // Saturday 2026-04-04 rolls past Easter Monday 2026-04-06, an EN holiday.
    EXPECT_EQ(dates({"2026-04-07", "2026-05-05"}), accrualDates(s));
}

TEST(SwapLegSchedule, ZeroLengthPeriodsAfterAdjustmentAreKept) {
    // Saturday and Sunday both roll to Monday 2026-01-12.
    LegSpec spec;
    spec.frequency = "1D";
    spec.roll = "Forward";
    spec.accrualAdjustment = "Following";
    spec.payLag = 0;
    const Schedule s = generate(spec, d("2026-01-09"), d("2026-01-13"));
    EXPECT_EQ(dates({"2026-01-09", "2026-01-12", "2026-01-12", "2026-01-12"}), s.starts);
    EXPECT_EQ(dates({"2026-01-12", "2026-01-12", "2026-01-12", "2026-01-13"}), s.ends);
    EXPECT_EQ(dates({"2026-01-12", "2026-01-12", "2026-01-12", "2026-01-13"}), s.payments);
    EXPECT_EQ((std::vector<double>{3.0 / 360.0, 0.0, 0.0, 1.0 / 360.0}), s.fractions);
}

struct PaymentCase {
    const char* name;
    int payLag;
    const char* payAdjustment;
    const char* payCalendar;
    const char* end; // the unadjusted and unadjusting accrual end
    const char* expected;
};

void PrintTo(const PaymentCase& c, std::ostream* os) {
    *os << c.name;
}

class SwapLegSchedulePayment : public ::testing::TestWithParam<PaymentCase> {};

TEST_P(SwapLegSchedulePayment, PaymentDateFollowsLagAdjustmentAndPayCalendar) {
    const PaymentCase& c = GetParam();
    LegSpec spec;
    spec.accrualAdjustment = "No Adjustment";
    spec.accrualCalendar = "US";
    spec.payLag = c.payLag;
    spec.payAdjustment = c.payAdjustment;
    spec.payCalendar = c.payCalendar;
    const date end = d(c.end);
    const Schedule s = generate(spec, end - boost::gregorian::days(10), end);
    ASSERT_EQ(1u, s.payments.size());
    EXPECT_EQ(end, s.ends[0]);
    EXPECT_EQ(d(c.expected), s.payments[0]);
}

INSTANTIATE_TEST_SUITE_P(
    SwapLegSchedule, SwapLegSchedulePayment,
    ::testing::Values(
        // 2026-01-31 is a Saturday.
        PaymentCase{"NegativeLagKeepsTheWeekendDate", -1, "Following", "US", "2026-01-31",
                    "2026-01-31"},
        PaymentCase{"NegativeLagSkipsPreceding", -3, "Preceding", "US", "2026-01-31", "2026-01-31"},
        PaymentCase{"ZeroLagFollowing", 0, "Following", "US", "2026-01-31", "2026-02-02"},
        PaymentCase{"ZeroLagModifiedFollowing", 0, "Modified Following", "US", "2026-01-31",
                    "2026-01-30"},
        PaymentCase{"ZeroLagPreceding", 0, "Preceding", "US", "2026-01-31", "2026-01-30"},
        PaymentCase{"ZeroLagNoAdjustment", 0, "No Adjustment", "US", "2026-01-31", "2026-01-31"},
        PaymentCase{"LagCountsFromAWeekendDate", 1, "Preceding", "US", "2026-01-31", "2026-02-02"},
        PaymentCase{"LagOfTwoFromAWeekendDate", 2, "Preceding", "US", "2026-01-31", "2026-02-03"},
        // 2027-03-26 (Friday) is a holiday of USGS only.
        PaymentCase{"LagOnUS", 1, "Following", "US", "2027-03-25", "2027-03-26"},
        PaymentCase{"LagOnUSGS", 1, "Following", "USGS", "2027-03-25", "2027-03-29"},
        // 2026-05-04 (Monday) is a holiday of EN only.
        PaymentCase{"LagOnUnionCalendar", 1, "Following", "US,EN", "2026-05-01", "2026-05-05"},
        PaymentCase{"LagOnUnionCalendarWithBlanks", 1, "Following", " EN , US ", "2026-05-01",
                    "2026-05-05"},
        // Lag counted over the US Independence Day holiday, Friday 2026-07-03.
        PaymentCase{"LagSkipsHolidays", 2, "Following", "US", "2026-07-01", "2026-07-06"}),
    [](const ::testing::TestParamInfo<PaymentCase>& info) { return std::string(info.param.name); });

TEST(SwapLegSchedule, FractionsFollowTheDayCountOfEachPeriod) {
    LegSpec spec;
    spec.roll = "Forward";
    spec.frequency = "1M";
    spec.accrualAdjustment = "No Adjustment";
    const date start = d("2026-01-31");
    const date end = d("2026-04-30");
    struct Case {
        const char* dayCount;
        std::vector<double> expected;
    };
    const Case cases[] = {
        {"Act/360", {28.0 / 360.0, 31.0 / 360.0, 30.0 / 360.0}},
        {"ACT/365F", {28.0 / 365.0, 31.0 / 365.0, 30.0 / 365.0}},
        // 30/360: day 31 at the end stays 31 after a start on the 28th.
        {"30/360", {28.0 / 360.0, 33.0 / 360.0, 30.0 / 360.0}},
        {"30E/360", {28.0 / 360.0, 32.0 / 360.0, 30.0 / 360.0}},
        {"Act/Act", {28.0 / 365.0, 31.0 / 365.0, 30.0 / 365.0}},
    };
    for (const Case& c : cases) {
        spec.dayCount = c.dayCount;
        EXPECT_EQ(c.expected, generate(spec, start, end).fractions) << c.dayCount;
    }
}

TEST(SwapLegSchedule, NoAdjustmentNeverResolvesTheAccrualCalendar) {
    LegSpec spec;
    spec.accrualAdjustment = "No Adjustment";
    spec.accrualCalendar = "NOWHERE";
    const Schedule s = generate(spec, d("2026-01-31"), d("2027-01-31"));
    EXPECT_EQ(dates({"2026-01-31", "2027-01-31"}), accrualDates(s));
    // Sunday 2027-01-31: two US business days later.
    EXPECT_EQ(dates({"2027-02-02"}), s.payments);
}

struct ErrorCase {
    const char* name;
    std::function<void(LegSpec&)> change;
    const char* start;
    const char* end;
    enum Kind { InvalidArgument, LogicError, RuntimeError } kind;
    const char* message;
};

void PrintTo(const ErrorCase& c, std::ostream* os) {
    *os << c.name;
}

class SwapLegScheduleError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(SwapLegScheduleError, FailsWithTheMessageOfTheFirstBadConvention) {
    const ErrorCase& c = GetParam();
    LegSpec spec;
    c.change(spec);
    const auto run = [&] { generate(spec, d(c.start), d(c.end)); };
    switch (c.kind) {
    case ErrorCase::InvalidArgument:
        expectThrowWithMessage<std::invalid_argument>(run, c.message);
        break;
    case ErrorCase::LogicError:
        expectThrowWithMessage<std::logic_error>(run, c.message);
        break;
    case ErrorCase::RuntimeError:
        expectThrowWithMessage<std::runtime_error>(run, c.message);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    SwapLegSchedule, SwapLegScheduleError,
    ::testing::Values(
        ErrorCase{"AbbreviatedRoll", [](LegSpec& s) { s.roll = "back"; }, "2026-01-15",
                  "2027-01-15", ErrorCase::InvalidArgument, "unknown value"},
        ErrorCase{"EmptyRoll", [](LegSpec& s) { s.roll = ""; }, "2026-01-15", "2027-01-15",
                  ErrorCase::InvalidArgument, "empty string"},
        ErrorCase{"RollBeforeFrequency",
                  [](LegSpec& s) {
                      s.roll = "Backwards";
                      s.frequency = "0M";
                  },
                  "2026-01-15", "2027-01-15", ErrorCase::InvalidArgument, "unknown value"},
        ErrorCase{"ZeroFrequency", [](LegSpec& s) { s.frequency = "0M"; }, "2026-01-15",
                  "2027-01-15", ErrorCase::LogicError, "Error, non-positive amount for the tenor."},
        // Even without any period the first multiple of the frequency is formed.
        ErrorCase{"ZeroFrequencyWithStartEqualToEnd", [](LegSpec& s) { s.frequency = "0D"; },
                  "2026-01-15", "2026-01-15", ErrorCase::LogicError,
                  "Error, non-positive amount for the tenor."},
        ErrorCase{"BusinessDayFrequencyForward",
                  [](LegSpec& s) {
                      s.frequency = "2BD";
                      s.roll = "Forward";
                  },
                  "2026-01-15", "2027-01-15", ErrorCase::RuntimeError,
                  "Error, addTenor is called with invalid arguments."},
        ErrorCase{"BusinessDayFrequencyBackward", [](LegSpec& s) { s.frequency = "1b"; },
                  "2026-01-15", "2027-01-15", ErrorCase::RuntimeError,
                  "Error, subtractTenor is called with invalid arguments."},
        ErrorCase{"BadFrequencyLetter", [](LegSpec& s) { s.frequency = "1X"; }, "2026-01-15",
                  "2027-01-15", ErrorCase::RuntimeError, "Error, invalid tenor :1X"},
        ErrorCase{"FrequencyBeforeAccrualAdjustment",
                  [](LegSpec& s) {
                      s.frequency = "1 Y";
                      s.accrualAdjustment = "Mod Following";
                  },
                  "2026-01-15", "2027-01-15", ErrorCase::RuntimeError,
                  "Error, invalid tenor input: 1 Y"},
        ErrorCase{"UnknownAccrualAdjustment",
                  [](LegSpec& s) { s.accrualAdjustment = "Modified Following "; }, "2026-01-15",
                  "2027-01-15", ErrorCase::InvalidArgument, "unknown value"},
        ErrorCase{"UnknownAccrualCalendar", [](LegSpec& s) { s.accrualCalendar = "NOWHERE"; },
                  "2026-01-15", "2027-01-15", ErrorCase::RuntimeError,
                  "Calendar not found: NOWHERE"},
        ErrorCase{"AccrualCalendarIsCaseSensitive", [](LegSpec& s) { s.accrualCalendar = "us"; },
                  "2026-01-15", "2027-01-15", ErrorCase::RuntimeError, "Calendar not found: us"},
        ErrorCase{"UnknownPayCalendarWithoutAccrualAdjustment",
                  [](LegSpec& s) {
                      s.accrualAdjustment = "No Adjustment";
                      s.accrualCalendar = "ALSO NOWHERE";
                      s.payCalendar = "NOWHERE";
                  },
                  "2026-01-15", "2027-01-15", ErrorCase::RuntimeError,
                  "Calendar not found: NOWHERE"},
        // The pay calendar is resolved even when the schedule has no period.
        ErrorCase{"UnknownPayCalendarWithoutPeriods", [](LegSpec& s) { s.payCalendar = "XX"; },
                  "2026-01-15", "2026-01-15", ErrorCase::RuntimeError, "Calendar not found: XX"},
        ErrorCase{"PayCalendarBeforePayAdjustment",
                  [](LegSpec& s) {
                      s.payCalendar = "US,XX";
                      s.payAdjustment = "Next";
                  },
                  "2026-01-15", "2027-01-15", ErrorCase::RuntimeError, "Calendar not found: XX"},
        ErrorCase{"EmptyPayCalendar", [](LegSpec& s) { s.payCalendar = " , "; }, "2026-01-15",
                  "2027-01-15", ErrorCase::InvalidArgument, "Empty calendar name"},
        // The pay adjustment is parsed although a lag makes it unnecessary.
        ErrorCase{"UnknownPayAdjustmentWithLag", [](LegSpec& s) { s.payAdjustment = "F"; },
                  "2026-01-15", "2027-01-15", ErrorCase::InvalidArgument, "unknown value"},
        ErrorCase{"EmptyPayAdjustment", [](LegSpec& s) { s.payAdjustment = ""; }, "2026-01-15",
                  "2027-01-15", ErrorCase::InvalidArgument, "empty string"},
        ErrorCase{"UnknownDayCount", [](LegSpec& s) { s.dayCount = "Act/365"; }, "2026-01-15",
                  "2027-01-15", ErrorCase::InvalidArgument, "unknown value"},
        ErrorCase{"UnknownDayCountWithoutPeriods", [](LegSpec& s) { s.dayCount = "Actual/360"; },
                  "2026-01-15", "2026-01-15", ErrorCase::InvalidArgument, "unknown value"}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });
