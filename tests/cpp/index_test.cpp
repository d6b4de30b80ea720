#include "conventions/index_repository.hpp"
#include "conventions/ois_index.hpp"
#include "dates/calendar_repository.hpp"

#include <boost/property_tree/json_parser.hpp>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

using tsr::IndexRepository;
using tsr::ObjectTree;
using tsr::OisIndex;

namespace {

ObjectTree fromJson(const std::string& json) {
    std::istringstream in(json);
    tsr::TextTree text;
    boost::property_tree::read_json(in, text);
    return tsr::convertToPropertyTree(text);
}

ObjectTree indexTree() {
    return fromJson(
        R"({"id": "XONIA", "type": "ois", "currency": "XXX", "calendar": "XC", "day count": "Act/365F"})");
}

// An index of another kind, to meet the typed lookup.
class TermIndex : public tsr::Index {
public:
    using Index::Index;
};

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

TEST(Index, OisIndexReadsIdCalendarAndDayCount) {
    const OisIndex index(indexTree());
    EXPECT_EQ("XONIA", index.id());
    EXPECT_EQ("XC", index.calendar());
    EXPECT_EQ("Act/365F", index.dayCount());
}

TEST(Index, TypeAndCurrencyAreNotRead) {
    const OisIndex other(
        fromJson(R"({"id": "A", "type": "term", "calendar": "US,EN", "day count": "30/360"})"));
    EXPECT_EQ("A", other.id());
    EXPECT_EQ("US,EN", other.calendar());
    EXPECT_EQ("30/360", other.dayCount());
    const OisIndex bare(fromJson(R"({"id": "B", "calendar": "X", "day count": "Y"})"));
    EXPECT_EQ("B", bare.id());
    EXPECT_EQ("X", bare.calendar());
    EXPECT_EQ("Y", bare.dayCount());
}

TEST(Index, NamesAreKeptAsTextUntilTheIndexIsUsed) {
    // Neither the calendar nor the day count is checked when the index is built.
    const OisIndex index(
        fromJson(R"({"id": "C", "calendar": "NOT REGISTERED", "day count": "Actual/Whatever"})"));
    EXPECT_EQ("NOT REGISTERED", index.calendar());
    expectThrowWithMessage<std::runtime_error>(
        [&] { (void)tsr::CalendarRepository::instance().get(index.calendar()); },
        "Calendar not found: NOT REGISTERED");
}

TEST(Index, MissingKeysAreReportedInReadingOrder) {
    struct Case {
        std::vector<const char*> removed;
        const char* reported;
    };
    const Case cases[] = {
        {{"id"}, "id"},
        {{"calendar"}, "calendar"},
        {{"day count"}, "day count"},
        {{"day count", "id"}, "id"},
        {{"day count", "calendar"}, "calendar"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reported);
        ObjectTree t = indexTree();
        for (const char* key : c.removed) {
            t.erase(key);
        }
        expectThrowWithMessage<boost::property_tree::ptree_bad_path>(
            [&] { OisIndex index(t); }, std::string("No such node (") + c.reported + ")");
    }
    // "day count" is one key with a blank, not a path.
    ObjectTree nested = fromJson(R"({"id": "D", "calendar": "X", "day": {"count": "Act/360"}})");
    EXPECT_THROW(OisIndex{nested}, boost::property_tree::ptree_bad_path);
}

TEST(Index, KeysMustHoldText) {
    for (const char* key : {"id", "calendar", "day count"}) {
        SCOPED_TRACE(key);
        ObjectTree t = indexTree();
        t.put(key, 360);
        EXPECT_THROW(OisIndex{t}, std::bad_cast);
    }
}

TEST(Index, RepositoryAddAndTypedGet) {
    auto& repository = IndexRepository::instance();
    const auto index = std::make_shared<OisIndex>(indexTree());
    repository.add("XONIA", index);
    // The same index may be registered under a second label.
    repository.add("XONIA ALIAS", index);
    EXPECT_EQ(index, repository.get<OisIndex>("XONIA"));
    EXPECT_EQ(index, repository.get<OisIndex>("XONIA ALIAS"));
    EXPECT_EQ(index, repository.get<tsr::Index>("XONIA"));
}

TEST(Index, RepositoryKeepsTheFirstIndexUnderALabel) {
    auto& repository = IndexRepository::instance();
    const auto first = std::make_shared<OisIndex>(
        fromJson(R"({"id": "DUP", "calendar": "EN", "day count": "Act/365F"})"));
    const auto second = std::make_shared<OisIndex>(
        fromJson(R"({"id": "DUP", "calendar": "US", "day count": "Act/360"})"));
    repository.add("DUP", first);
    expectThrowWithMessage<std::runtime_error>([&] { repository.add("DUP", second); },
                                               "Label already registered: DUP");
    const auto kept = repository.get<OisIndex>("DUP");
    EXPECT_EQ(first, kept);
    EXPECT_EQ("EN", kept->calendar());
}

TEST(Index, RepositoryLabelsAreExact) {
    auto& repository = IndexRepository::instance();
    repository.add("CASE", std::make_shared<OisIndex>(indexTree()));
    for (const char* label : {"case", "Case", "CASE ", " CASE", "CAS", ""}) {
        expectThrowWithMessage<std::out_of_range>(
            [&] { (void)repository.get<OisIndex>(label); },
            std::string("No object registered under label: ") + label);
    }
}

TEST(Index, RepositoryWrongClassOrEmptyEntryIsBadCast) {
    auto& repository = IndexRepository::instance();
    repository.add("TERM", std::make_shared<TermIndex>("TERM"));
    EXPECT_THROW((void)repository.get<OisIndex>("TERM"), std::bad_cast);
    EXPECT_EQ("TERM", repository.get<tsr::Index>("TERM")->id());
    repository.add("EMPTY", nullptr);
    EXPECT_THROW((void)repository.get<tsr::Index>("EMPTY"), std::bad_cast);
    EXPECT_THROW((void)repository.get<OisIndex>("EMPTY"), std::bad_cast);
}
