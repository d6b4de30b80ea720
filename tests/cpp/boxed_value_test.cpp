#include "core/boxed_value.hpp"
#include "core/object_tree.hpp"

#include <boost/property_tree/json_parser.hpp>
#include <gtest/gtest.h>

#include <limits>
#include <sstream>

using tsr::BoxedValue;
using tsr::date;

namespace {

template <class T, class E> void expectThrowWith(const BoxedValue& v, const std::string& message) {
    try {
        (void)v.get<T>();
        FAIL() << "expected an exception with: " << message;
    } catch (const E& e) {
        EXPECT_EQ(message, e.what());
    }
}

} // namespace

TEST(BoxedValue, KeepsTheExactAlternativeIndex) {
    EXPECT_EQ(0u, BoxedValue(true).index());
    EXPECT_EQ(6u, BoxedValue(5).index());
    EXPECT_EQ(7u, BoxedValue(5L).index());
    EXPECT_EQ(10u, BoxedValue(5.0).index());
    EXPECT_EQ(17u, BoxedValue(std::string("x")).index());
    EXPECT_EQ(17u, BoxedValue("x").index());
    EXPECT_EQ(18u, BoxedValue(date(2026, 1, 2)).index());
}

TEST(BoxedValue, BoolFromTextIgnoresCaseButNotBlanks) {
    EXPECT_TRUE(BoxedValue("TRUE").get<bool>());
    EXPECT_TRUE(BoxedValue("tRuE").get<bool>());
    EXPECT_FALSE(BoxedValue("False").get<bool>());
    expectThrowWith<bool, std::runtime_error>(
        BoxedValue("TRUE "), "BoxedValue: cannot convert string \"TRUE \" to bool");
    expectThrowWith<bool, std::runtime_error>(BoxedValue("1"),
                                              "BoxedValue: cannot convert string \"1\" to bool");
    expectThrowWith<bool, std::runtime_error>(BoxedValue(1), "BoxedValue: cannot convert to bool");
    expectThrowWith<bool, std::runtime_error>(BoxedValue(1.0),
                                              "BoxedValue: cannot convert to bool");
}

TEST(BoxedValue, AMessageShowsAtMost80BytesOfTheTextCutOnACharacter) {
    // 76 ASCII bytes, then two-byte characters: the cut backs up to a character's start.
    const std::string text = std::string(76, 'x') + "\u00e9\u00e9\u00e9";
    expectThrowWith<bool, std::runtime_error>(BoxedValue(text),
                                              "BoxedValue: cannot convert string \"" +
                                                  std::string(76, 'x') + "...\" to bool");
    expectThrowWith<bool, std::runtime_error>(BoxedValue(std::string(80, 'y')),
                                              "BoxedValue: cannot convert string \"" +
                                                  std::string(80, 'y') + "\" to bool");
}

TEST(BoxedValue, IntConversions) {
    EXPECT_EQ(5, BoxedValue(5L).get<int>());
    EXPECT_EQ(-7, BoxedValue("-7").get<int>());
    EXPECT_EQ(std::numeric_limits<int>::min(),
              BoxedValue(static_cast<long>(std::numeric_limits<int>::min())).get<int>());
    expectThrowWith<int, std::runtime_error>(BoxedValue(2.0), "BoxedValue: cannot convert to int");
    expectThrowWith<int, std::runtime_error>(BoxedValue(true), "BoxedValue: cannot convert to int");
    expectThrowWith<int, std::runtime_error>(BoxedValue("2.5"),
                                             "BoxedValue: cannot convert string \"2.5\" to int");
    expectThrowWith<int, std::runtime_error>(
        BoxedValue("4294967298"), "BoxedValue: cannot convert string \"4294967298\" to int");
}

TEST(BoxedValue, LongOutsideIntRangeIsRefusedNotTruncated) {
    expectThrowWith<int, std::runtime_error>(BoxedValue((1L << 32) + 2),
                                             "BoxedValue: cannot convert to int");
    expectThrowWith<int, std::runtime_error>(
        BoxedValue(static_cast<long>(std::numeric_limits<int>::min()) - 1),
        "BoxedValue: cannot convert to int");
}

TEST(BoxedValue, DoubleConversions) {
    EXPECT_EQ(5.0, BoxedValue(5L).get<double>());
    EXPECT_EQ(5.0, BoxedValue(5).get<double>());
    EXPECT_EQ(2.5, BoxedValue("2.5").get<double>());
    expectThrowWith<double, std::runtime_error>(BoxedValue(true),
                                                "BoxedValue: cannot convert to double");
    expectThrowWith<double, std::runtime_error>(BoxedValue(1.0f),
                                                "BoxedValue: cannot convert to double");
    expectThrowWith<double, std::runtime_error>(
        BoxedValue("2.5x"), "BoxedValue: cannot convert string \"2.5x\" to double");
}

TEST(BoxedValue, DateConversions) {
    EXPECT_EQ(date(2026, 3, 20), BoxedValue("2026-03-20").get<date>());
    EXPECT_EQ(date(2026, 3, 20), BoxedValue("2026/Mar/20").get<date>());
    expectThrowWith<date, std::runtime_error>(
        BoxedValue("abc"), "BoxedValue: cannot convert string \"abc\" to gregorian::date");
    expectThrowWith<date, std::runtime_error>(BoxedValue(20260320L),
                                              "BoxedValue: cannot convert to gregorian::date");
    expectThrowWith<date, std::out_of_range>(BoxedValue("2024-02-30"),
                                             "Day of month is not valid for year");
    expectThrowWith<date, std::out_of_range>(BoxedValue("2026-13-01"),
                                             "Month number is out of range 1..12");
    expectThrowWith<date, std::out_of_range>(BoxedValue("1399-01-01"),
                                             "Year is out of valid range: 1400..9999");
}

TEST(BoxedValue, StringOnlyFromString) {
    EXPECT_EQ("abc", BoxedValue("abc").get<std::string>());
    EXPECT_THROW((void)BoxedValue(true).get<std::string>(), std::bad_cast);
    EXPECT_THROW((void)BoxedValue(3L).get<std::string>(), std::bad_cast);
}
