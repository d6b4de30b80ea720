#include "conventions/index_repository.hpp"
#include "conventions/ois_index.hpp"
#include "dates/calendar_repository.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace tsr::test;
using tsr::IndexRepository;
using tsr::ObjectTree;
using tsr::OisIndex;

namespace {

ObjectTree indexTree() {
    return fromJson(
        R"({"id": "XONIA", "type": "ois", "currency": "XXX", "calendar": "XC", "day count": "Act/365F"})");
}

// An index of another kind, to meet the typed lookup.
class TermIndex : public tsr::Index {
public:
    using Index::Index;
};

} // namespace

TEST(Index, OisIndexReadsIdCalendarAndDayCountOnly) {
    const OisIndex index(indexTree());
    EXPECT_EQ("XONIA", index.id());
    EXPECT_EQ("XC", index.calendar());
    EXPECT_EQ("Act/365F", index.dayCount());
    // Type and currency are not read; neither the calendar nor the day count is checked.
    const OisIndex bare(
        fromJson(R"({"id": "B", "calendar": "NOT REGISTERED", "day count": "Actual/Whatever"})"));
    EXPECT_EQ("B", bare.id());
    EXPECT_EQ("NOT REGISTERED", bare.calendar());
    EXPECT_EQ("Actual/Whatever", bare.dayCount());
    expectThrowWithMessage<std::runtime_error>(
        [&] { (void)tsr::CalendarRepository::instance().get(bare.calendar()); },
        "Calendar not found: NOT REGISTERED");
}

TEST(Index, MissingOrNonTextKeysAreReportedInReadingOrder) {
    const std::pair<std::vector<const char*>, const char*> cases[] = {
        {{"id"}, "id"},
        {{"calendar"}, "calendar"},
        {{"day count"}, "day count"},
        {{"day count", "id"}, "id"},
        {{"day count", "calendar"}, "calendar"},
    };
    for (const auto& [removed, reported] : cases) {
        ObjectTree t = indexTree();
        for (const char* key : removed) {
            t.erase(key);
        }
        expectThrowWithMessage<boost::property_tree::ptree_bad_path>(
            [&] { OisIndex index(t); }, std::string("No such node (") + reported + ")");
    }
    // "day count" is one key with a blank, not a path.
    EXPECT_THROW(OisIndex{fromJson(R"({"id": "D", "calendar": "X", "day": {"count": "A"}})")},
                 boost::property_tree::ptree_bad_path);
    for (const char* key : {"id", "calendar", "day count"}) {
        ObjectTree t = indexTree();
        t.put(key, 360);
        EXPECT_THROW(OisIndex{t}, std::bad_cast) << key;
    }
}

TEST(Index, RepositoryKeepsTheFirstIndexUnderALabelAndChecksTheClass) {
    auto& repository = IndexRepository::instance();
    const auto index = std::make_shared<OisIndex>(indexTree());
    repository.add("XONIA", index);
    // The same index may be registered under a second label.
    repository.add("XONIA ALIAS", index);
    EXPECT_EQ(index, repository.get<OisIndex>("XONIA ALIAS"));
    EXPECT_EQ(index, repository.get<tsr::Index>("XONIA"));
    const auto other = std::make_shared<OisIndex>(
        fromJson(R"({"id": "XONIA", "calendar": "US", "day count": "Act/360"})"));
    expectThrowWithMessage<std::runtime_error>([&] { repository.add("XONIA", other); },
                                               "Label already registered: XONIA");
    EXPECT_EQ(index, repository.get<OisIndex>("XONIA"));

    repository.add("TERM", std::make_shared<TermIndex>("TERM"));
    EXPECT_THROW((void)repository.get<OisIndex>("TERM"), std::bad_cast);
    EXPECT_EQ("TERM", repository.get<tsr::Index>("TERM")->id());
    repository.add("EMPTY", nullptr);
    EXPECT_THROW((void)repository.get<tsr::Index>("EMPTY"), std::bad_cast);
    EXPECT_THROW((void)repository.get<OisIndex>("EMPTY"), std::bad_cast);
}
