#include "core/object_tree.hpp"
#include "test_support.hpp"

#include <boost/property_tree/json_parser.hpp>
#include <gtest/gtest.h>

#include <sstream>

using namespace tsr::test;

using tsr::date;
using tsr::ObjectTree;

namespace {} // namespace

TEST(ObjectTree, AddAlwaysAppendsAndLookupFindsTheFirst) {
    ObjectTree t;
    t.add("leg1.rate", 0.01);
    t.add("leg1.rate", 0.02);
    EXPECT_EQ(2u, t.get_child("leg1").count("rate"));
    EXPECT_EQ(0.01, t.get<double>("leg1.rate"));
}

TEST(ObjectTree, MissingNodeIsAPathError) {
    ObjectTree t;
    try {
        (void)t.get<double>("leg1.rate");
        FAIL();
    } catch (const boost::property_tree::ptree_bad_path& e) {
        EXPECT_STREQ("No such node (leg1.rate)", e.what());
    }
    EXPECT_FALSE(t.get_optional<int>("x"));
}

TEST(ObjectTree, NodeWithoutDataIsBadCast) {
    ObjectTree t;
    t.add_child("a", ObjectTree());
    EXPECT_THROW((void)t.get<int>("a"), std::bad_cast);
    EXPECT_THROW((void)t.get_optional<std::string>("a"), std::bad_cast);
    EXPECT_THROW((void)tsr::boxedValue(t.get_child("a")), std::bad_cast);
}

TEST(ObjectTree, OptionalReadOfUnconvertibleValueThrows) {
    ObjectTree t;
    t.add("x", std::string("abc"));
    try {
        (void)t.get_optional<int>("x");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("BoxedValue: cannot convert string \"abc\" to int", e.what());
    }
    t.add("n", 3);
    EXPECT_THROW((void)t.get_optional<std::string>("n"), std::bad_cast);
}

TEST(ObjectTree, AddVectorBuildsAnArrayNode) {
    ObjectTree t;
    tsr::addVector<double>(t, "v", {1.0, 2.0, 3.0});
    tsr::addVector<double>(t, "v", {4.0});
    tsr::addVector<std::string>(t, "empty", {});
    EXPECT_EQ(2u, t.count("v"));
    const auto& v = t.get_child("v");
    ASSERT_EQ(3u, v.size());
    double expected = 1.0;
    for (const auto& [key, child] : v) {
        EXPECT_TRUE(key.empty());
        EXPECT_EQ(expected, child.get_value<double>());
        expected += 1.0;
    }
    EXPECT_TRUE(t.get_child("empty").empty());
    EXPECT_EQ(nullptr, t.get_child("empty").data());
}

TEST(ObjectTree, JsonTextBecomesStringLeavesWithDottedKeysNested) {
    const ObjectTree t = fromJson(R"({"a.b": 2, "arr": [1, 2], "flag": true, "s": "2"})");
    EXPECT_EQ(2, t.get<int>("a.b"));
    EXPECT_EQ(17u, tsr::boxedValue(t.get_child("a.b")).index());
    const auto& arr = t.get_child("arr");
    ASSERT_EQ(2u, arr.size());
    EXPECT_EQ("", arr.front().first);
    EXPECT_EQ("1", arr.front().second.get_value<std::string>());
    EXPECT_EQ(2, arr.back().second.get_value<int>());
    EXPECT_TRUE(t.get<bool>("flag"));
    EXPECT_EQ(2, t.get<int>("s"));
    // Interior nodes still carry the empty string.
    EXPECT_EQ("", t.get_child("arr").get_value<std::string>());
}
