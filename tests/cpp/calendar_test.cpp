#include "dates/calendar_repository.hpp"
#include "dates/single_calendar.hpp"
#include "dates/union_calendar.hpp"
#include "test_support.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace tsr::test;

using tsr::Calendar;
using tsr::CalendarRepository;
using tsr::date;
using tsr::SingleCalendar;
using tsr::UnionCalendar;

namespace {

std::shared_ptr<SingleCalendar> makeCalendar(const std::string& name, std::vector<date> holidays,
                                             std::vector<date> businessDays = {},
                                             tsr::WeekdaySet weekend = tsr::saturdaySundayWeekend) {
    return std::make_shared<SingleCalendar>(name, weekend, holidays, businessDays);
}

// Answers a fixed value and counts its queries.
class FixedCalendar : public Calendar {
public:
    FixedCalendar(std::string name, bool answer) : Calendar(std::move(name)), answer_(answer) {}
    bool isBusinessDay(const date&) const override {
        ++queries;
        return answer_;
    }
    mutable int queries = 0;

private:
    bool answer_;
};

// A repository with A (closed 2026-06-16), B (closed 2026-06-17) and "C D" (closed
// 2026-06-18), all with Saturday and Sunday weekends.
CalendarRepository sampleRepository() {
    CalendarRepository repository;
    repository.add(makeCalendar("A", {d("2026-06-16")}));
    repository.add(makeCalendar("B", {d("2026-06-17")}));
    repository.add(makeCalendar("C D", {d("2026-06-18")}));
    return repository;
}

} // namespace

TEST(Calendar, SingleCalendarCombinesWeekendHolidaysAndBusinessDays) {
    // Listed out of order on purpose, with a duplicate; Saturday 2026-06-20 is forced open and
    // Wednesday 2026-06-17 is both a holiday and a business day.
    const auto calendar = makeCalendar(
        "X", {d("2026-06-19"), d("2026-06-17"), d("2026-06-16"), d("2026-06-16"), d("2026-06-21")},
        {d("2026-06-20"), d("2026-06-17")});
    const std::vector<std::pair<const char*, bool>> expected = {
        {"2026-06-15", true},  {"2026-06-16", false}, {"2026-06-17", true},
        {"2026-06-18", true},  {"2026-06-19", false}, {"2026-06-20", true},
        {"2026-06-21", false}, {"2026-06-22", true},  {"2026-06-27", false},
    };
    for (const auto& [text, open] : expected) {
        EXPECT_EQ(open, calendar->isBusinessDay(d(text))) << text;
    }
    EXPECT_EQ("X", calendar->name());
    EXPECT_TRUE(std::is_sorted(calendar->holidays().begin(), calendar->holidays().end()));
    EXPECT_EQ(5u, calendar->holidays().size());
}

TEST(Calendar, WeekendFlagsStartOnSunday) {
    // A Friday-and-Saturday weekend: flags 5 and 6.
    tsr::WeekdaySet weekend;
    weekend.flags[5] = 1;
    weekend.flags[6] = 1;
    const auto calendar = makeCalendar("FS", {}, {}, weekend);
    EXPECT_FALSE(calendar->isBusinessDay(d("2026-06-19")));
    EXPECT_FALSE(calendar->isBusinessDay(d("2026-06-20")));
    EXPECT_TRUE(calendar->isBusinessDay(d("2026-06-21")));
    EXPECT_TRUE(calendar->isBusinessDay(d("2026-06-18")));

    const auto allOpen = makeCalendar("open", {}, {}, tsr::WeekdaySet{});
    for (int i = 0; i < 7; ++i) {
        EXPECT_TRUE(allOpen->isBusinessDay(d("2026-06-14") + boost::gregorian::days(i)));
    }
}

TEST(Calendar, UnionStopsAtTheFirstMemberThatSaysNo) {
    const auto open = std::make_shared<FixedCalendar>("open", true);
    const auto closed = std::make_shared<FixedCalendar>("closed", false);
    const auto last = std::make_shared<FixedCalendar>("last", true);
    const UnionCalendar calendar("u", {open, closed, last});
    EXPECT_FALSE(calendar.isBusinessDay(d("2026-06-15")));
    EXPECT_EQ(1, open->queries);
    EXPECT_EQ(1, closed->queries);
    EXPECT_EQ(0, last->queries);
}

TEST(Calendar, UnionNeedsAtLeastOneRealMember) {
    EXPECT_EQ("UnionCalendar requires at least one calendar",
              messageOf([] { UnionCalendar("u", {}); }));
    EXPECT_THROW(UnionCalendar("u", {makeCalendar("A", {}), nullptr}), std::invalid_argument);
}

TEST(Calendar, RepositoryResolvesNamesAndCommaSeparatedUnions) {
    const CalendarRepository repository = sampleRepository();
    const struct {
        const char* names;
        const char* single;     // registered name for a single calendar, empty for a union
        std::vector<bool> open; // business days Mon 2026-06-15 .. Thu 2026-06-18
    } cases[] = {
        {"A", "A", {true, false, true, true}},        {" \tA\t ", "A", {true, false, true, true}},
        {"A,", "A", {true, false, true, true}},       {",,A,,", "A", {true, false, true, true}},
        {"C D", "C D", {true, true, true, false}},    {" C D ", "C D", {true, true, true, false}},
        {"A,B", "", {true, false, false, true}},      {"A, B", "", {true, false, false, true}},
        {"A,,B", "", {true, false, false, true}},     {"B,A,A", "", {true, false, false, true}},
        {"A,C D,B", "", {true, false, false, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("[") + c.names + "]");
        const auto calendar = repository.get(c.names);
        ASSERT_NE(nullptr, calendar);
        if (*c.single != '\0') {
            // The registered object itself, not a copy.
            EXPECT_EQ(repository.getSingle(c.single), calendar);
        } else {
            EXPECT_EQ(c.names, calendar->name());
            EXPECT_NE(nullptr, dynamic_cast<const UnionCalendar*>(calendar.get()));
        }
        for (int day = 0; day < 4; ++day) {
            EXPECT_EQ(c.open[day],
                      calendar->isBusinessDay(d("2026-06-15") + boost::gregorian::days(day)))
                << "day " << day;
        }
    }
}

TEST(Calendar, UnionsKeepMembersInOrderWithRepeatsAndAreNeverRegistered) {
    const CalendarRepository repository = sampleRepository();
    const auto calendar = repository.get("B, A ,B");
    const auto* unionCalendar = dynamic_cast<const UnionCalendar*>(calendar.get());
    ASSERT_NE(nullptr, unionCalendar);
    const std::vector<std::shared_ptr<const Calendar>> members(unionCalendar->calendars().begin(),
                                                               unionCalendar->calendars().end());
    EXPECT_EQ((std::vector<std::shared_ptr<const Calendar>>{
                  repository.getSingle("B"), repository.getSingle("A"), repository.getSingle("B")}),
              members);
    EXPECT_EQ("B, A ,B", calendar->name());
    // Every lookup builds a new union.
    EXPECT_NE(repository.get("A,B"), repository.get("A,B"));
    EXPECT_THROW((void)repository.getSingle("A,B"), std::runtime_error);
}

TEST(Calendar, RepositoryLookupFailures) {
    const CalendarRepository repository = sampleRepository();
    for (const char* names : {"", " ", ",", " \t, ,"}) {
        expectThrowWithMessage<std::invalid_argument>([&] { (void)repository.get(names); },
                                                      "Empty calendar name");
    }
    const std::pair<const char*, const char*> unknown[] = {{"a", "a"},
                                                           {"XX", "XX"},
                                                           {"A,XX", "XX"},
                                                           {"A, YY ,XX", "YY"},
                                                           // Only blanks and tabs are trimmed.
                                                           {"A\n", "A\n"},
                                                           {"C  D", "C  D"}};
    for (const auto& [names, missing] : unknown) {
        expectThrowWithMessage<std::runtime_error>([&] { (void)repository.get(names); },
                                                   std::string("Calendar not found: ") + missing);
    }
}

TEST(Calendar, GetSingleNeitherSplitsNorTrims) {
    const CalendarRepository repository = sampleRepository();
    EXPECT_EQ("A", repository.getSingle("A")->name());
    EXPECT_EQ("C D", repository.getSingle("C D")->name());
    for (const std::string name : {"A,B", " A", "A ", "a", ""}) {
        EXPECT_EQ("Calendar not found: " + name,
                  messageOf([&] { (void)repository.getSingle(name); }));
    }
}

TEST(Calendar, RegisteringATakenNameFailsAndKeepsTheFirst) {
    CalendarRepository repository = sampleRepository();
    const auto first = repository.getSingle("A");
    EXPECT_EQ("Calendar already registered: A",
              messageOf([&] { repository.add(makeCalendar("A", {})); }));
    EXPECT_EQ(first, repository.getSingle("A"));
    EXPECT_FALSE(repository.get("A")->isBusinessDay(d("2026-06-16")));
    EXPECT_THROW(repository.add(nullptr), std::invalid_argument);
}

TEST(Calendar, ReplacingACalendarKeepsTheOldOneForItsHoldersAndMovesTheGeneration) {
    CalendarRepository repository = sampleRepository();
    const auto old = repository.getSingle("A");
    const auto generation = CalendarRepository::generation();
    repository.replace(makeCalendar("A", {d("2026-06-19")}));
    EXPECT_GT(CalendarRepository::generation(), generation);
    EXPECT_FALSE(old->isBusinessDay(d("2026-06-16")));
    EXPECT_TRUE(repository.get("A")->isBusinessDay(d("2026-06-16")));
    EXPECT_FALSE(repository.get("A , B")->isBusinessDay(d("2026-06-19")));
    repository.replace(makeCalendar("E", {}));
    std::vector<std::string> names;
    for (const auto& calendar : repository.all()) {
        names.push_back(calendar->name());
    }
    EXPECT_EQ((std::vector<std::string>{"A", "B", "C D", "E"}), names);
    EXPECT_THROW(repository.replace(nullptr), std::invalid_argument);
}

TEST(Calendar, ExtendedCalendarAddsHolidaysAndTakesTheNewWeekend) {
    const auto base = makeCalendar("X", {d("2026-06-16")}, {d("2026-06-20")});
    const auto fridays = tsr::WeekdaySet{{0, 0, 0, 0, 0, 1, 1}};
    const auto extended = base->extended({d("2036-12-25"), d("2026-06-16")}, fridays);
    EXPECT_EQ("X", extended->name());
    EXPECT_EQ(dates({"2026-06-16", "2036-12-25"}), extended->holidays());
    for (const auto& [text, open] :
         std::vector<std::pair<const char*, bool>>{{"2026-06-16", false},
                                                   {"2036-12-25", false},
                                                   {"2036-12-26", false},
                                                   {"2036-12-28", true},
                                                   {"2026-06-20", true},
                                                   {"2026-06-19", false}}) {
        EXPECT_EQ(open, extended->isBusinessDay(d(text))) << text;
    }
}

TEST(Calendar, AWeekendOfSevenDaysIsRefusedByEveryRegistration) {
    CalendarRepository repository = sampleRepository();
    const auto closed = std::make_shared<tsr::SingleCalendar>(
        "A", tsr::WeekdaySet{{1, 1, 1, 1, 1, 1, 1}}, std::vector<date>{}, std::vector<date>{});
    const std::string message = "Error, calendar A has a weekend of seven days: a calendar needs "
                                "a business day in every week.";
    EXPECT_EQ(message, messageOf([&] { repository.replace(closed); }));
    EXPECT_EQ(message, messageOf([&] { CalendarRepository().add(closed); }));
    EXPECT_FALSE(repository.get("A")->isBusinessDay(d("2026-06-16")));
}

TEST(Calendar, APinnedSnapshotKeepsEveryLookupOnOneVersion) {
    auto& repository = CalendarRepository::instance();
    repository.replace(makeCalendar("SNAPSHOT TEST", {d("2026-06-16")}));
    const auto snapshot = repository.snapshot();
    EXPECT_EQ(CalendarRepository::generation(), snapshot->snapshotGeneration());
    repository.replace(makeCalendar("SNAPSHOT TEST", {}));
    {
        const CalendarRepository::ScopedView view(snapshot.get());
        EXPECT_FALSE(
            CalendarRepository::current().get("SNAPSHOT TEST")->isBusinessDay(d("2026-06-16")));
        // A steady view inside a pinned one keeps the pinned one.
        const CalendarRepository::SteadyView steady;
        EXPECT_EQ(&CalendarRepository::current(), snapshot.get());
    }
    EXPECT_EQ(&CalendarRepository::current(), &repository);
    EXPECT_TRUE(CalendarRepository::current().get("SNAPSHOT TEST")->isBusinessDay(d("2026-06-16")));
}
