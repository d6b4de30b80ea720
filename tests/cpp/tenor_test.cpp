#include "dates/tenor.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

using namespace tsr::test;
using tsr::Tenor;
using Unit = Tenor::Unit;

namespace {

// Runs the parser and describes the outcome as "<unit>:<amount>" or "<exception kind>|<message>".
std::string parseOutcome(const std::string& text) {
    try {
        const Tenor tenor(text);
        return std::to_string(static_cast<int>(tenor.unit())) + ":" +
               std::to_string(tenor.amount());
    } catch (const std::out_of_range& e) {
        return std::string("out_of_range|") + e.what();
    } catch (const std::runtime_error& e) {
        return std::string("runtime_error|") + e.what();
    }
}

std::string parsed(Unit unit, int amount) {
    return std::to_string(static_cast<int>(unit)) + ":" + std::to_string(amount);
}

std::string runtimeError(const std::string& message) {
    return "runtime_error|" + message;
}

// The outcome the pattern "(\d+)(\S{1,2})" prescribes, with the standard regex engine as the
// judge of the split. Only usable on short texts: the engine recurses per character.
std::string expectedOutcome(const std::string& text) {
    static const std::regex pattern(R"((\d+)(\S{1,2}))");
    std::smatch match;
    if (!std::regex_match(text, match, pattern)) {
        return runtimeError("Error, invalid tenor input: " + text);
    }
    int amount = 0;
    try {
        amount = std::stoi(match[1].str());
    } catch (const std::out_of_range& e) {
        return std::string("out_of_range|") + e.what();
    }
    const std::string unit = match[2].str();
    auto up = [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); };
    if (unit.size() == 2) {
        return (up(unit[0]) == 'B' && up(unit[1]) == 'D')
                   ? parsed(Unit::BusinessDays, amount)
                   : runtimeError("Error, invalid tenor: " + text);
    }
    switch (up(unit[0])) {
    case 'D':
        return parsed(Unit::Days, amount);
    case 'B':
        return parsed(Unit::BusinessDays, amount);
    case 'W':
        return parsed(Unit::Weeks, amount);
    case 'M':
        return parsed(Unit::Months, amount);
    case 'Y':
        return parsed(Unit::Years, amount);
    default:
        return runtimeError("Error, invalid tenor :" + text);
    }
}

} // namespace

TEST(Tenor, ParsesCountAndUnitInAnyLetterCase) {
    const struct {
        const char* text;
        Unit unit;
        int amount;
        const char* printed;
    } cases[] = {
        {"3m", Unit::Months, 3, "3M"},
        {"10y", Unit::Years, 10, "10Y"},
        {"1w", Unit::Weeks, 1, "1W"},
        {"2d", Unit::Days, 2, "2D"},
        {"2BD", Unit::BusinessDays, 2, "2BD"},
        {"2bD", Unit::BusinessDays, 2, "2BD"},
        {"2b", Unit::BusinessDays, 2, "2BD"},
        {"0M", Unit::Months, 0, "0M"},
        {"007D", Unit::Days, 7, "7D"},
        {"123Y", Unit::Years, 123, "123Y"},
        {"2147483647D", Unit::Days, 2147483647, "2147483647D"},
    };
    for (const auto& c : cases) {
        const Tenor tenor(c.text);
        EXPECT_EQ(c.unit, tenor.unit()) << c.text;
        EXPECT_EQ(c.amount, tenor.amount()) << c.text;
        EXPECT_EQ(c.printed, tenor.toString()) << c.text;
    }
}

TEST(Tenor, RejectsMalformedTextWithTheMessageOfItsKind) {
    const std::string input = "Error, invalid tenor input: ";
    const std::pair<std::string, std::string> cases[] = {
        {"", runtimeError(input)},
        {"3 M", runtimeError(input + "3 M")},
        {"-3M", runtimeError(input + "-3M")},
        {"3BDX", runtimeError(input + "3BDX")},
        {"3M\n", runtimeError(input + "3M\n")},
        {"3MO", runtimeError("Error, invalid tenor: 3MO")},
        {"3X", runtimeError("Error, invalid tenor :3X")},
        {"123", runtimeError("Error, invalid tenor :123")},
        {"99999999999D", "out_of_range|stoi"},
        {"2147483648D", "out_of_range|stoi"},
    };
    for (const auto& [text, outcome] : cases) {
        EXPECT_EQ(outcome, parseOutcome(text)) << text;
    }
    // Parsing stops at the first NUL character.
    EXPECT_EQ(parsed(Unit::Months, 3), parseOutcome(std::string("3M\0garbage", 10)));
    EXPECT_EQ(runtimeError(input + "3"), parseOutcome(std::string("3\0M", 3)));
}

TEST(Tenor, SplitsDigitsFromUnitLikeTheFullPatternMatch) {
    // Every text up to four characters over an alphabet of digits, unit letters, white space
    // and other bytes, judged against the regex engine.
    const std::string alphabet = std::string("019DdBbMx- \t\v") + '\xC3';
    std::vector<std::string> texts = {""};
    std::size_t begin = 0;
    for (int length = 1; length <= 4; ++length) {
        const std::size_t end = texts.size();
        for (std::size_t i = begin; i < end; ++i) {
            for (const char c : alphabet) {
                texts.push_back(texts[i] + c);
            }
        }
        begin = end;
    }
    int mismatches = 0;
    for (const auto& text : texts) {
        const std::string expected = expectedOutcome(text);
        const std::string found = parseOutcome(text);
        if (expected != found && ++mismatches <= 10) {
            ADD_FAILURE() << "text [" << text << "] expected " << expected << " found " << found;
        }
    }
    EXPECT_EQ(0, mismatches);
}

TEST(Tenor, LongTextsAreJudgedWithoutExhaustingTheStack) {
    for (const std::size_t length : {std::size_t{100000}, std::size_t{1000000}}) {
        const std::string ones(length - 1, '1');
        const std::string zeros(length - 3, '0');
        const std::string letters(length, 'M');
        const std::vector<std::pair<std::string, std::string>> cases = {
            {ones + "D", "out_of_range|stoi"},
            // All digits: the last one is the unit, the count before it is converted first.
            {ones + "1", "out_of_range|stoi"},
            // Messages show the first 77 characters of the text.
            {zeros + "112", runtimeError("Error, invalid tenor :" + zeros.substr(0, 77) + "...")},
            {ones + " ", runtimeError("Error, invalid tenor input: " + ones.substr(0, 77) + "...")},
            {letters, runtimeError("Error, invalid tenor input: " + letters.substr(0, 77) + "...")},
            {zeros + "7BD", parsed(Unit::BusinessDays, 7)},
            {zeros + "42Y", parsed(Unit::Years, 42)},
            {zeros + "7DD", runtimeError("Error, invalid tenor: " + zeros.substr(0, 77) + "...")},
        };
        for (std::size_t i = 0; i < cases.size(); ++i) {
            // Compared in one piece: a failure report of a million characters helps nobody.
            const std::string found = parseOutcome(cases[i].first);
            EXPECT_TRUE(cases[i].second == found)
                << "length " << length << " case " << i << ": found " << found.substr(0, 60);
        }
    }
}

TEST(Tenor, ConstructionAndMultiplicationNeedPositiveAmountsInRange) {
    const Tenor tenor(Unit::Weeks, 2);
    EXPECT_EQ(Unit::Weeks, tenor.unit());
    EXPECT_EQ(2, tenor.amount());
    EXPECT_EQ("2W", tenor.toString());
    const Tenor product = 3 * Tenor("6M");
    EXPECT_EQ(Unit::Months, product.unit());
    EXPECT_EQ(18, product.amount());
    EXPECT_EQ("4BD", (2 * Tenor("2b")).toString());
    const std::string nonPositive = "Error, non-positive amount for the tenor.";
    for (const int amount : {0, -1, -2147483647 - 1}) {
        expectThrowWithMessage<std::logic_error>([&] { (void)Tenor(Unit::Months, amount); },
                                                 nonPositive);
    }
    for (const int factor : {0, -1}) {
        expectThrowWithMessage<std::logic_error>([&] { (void)(factor * Tenor("6M")); },
                                                 nonPositive);
    }
    // A zero-count parsed tenor cannot be multiplied either.
    EXPECT_THROW(1 * Tenor("0D"), std::logic_error);
    // Beyond the integer range multiplication fails instead of wrapping.
    EXPECT_EQ(2147483646, (2 * Tenor(Unit::Days, 1073741823)).amount());
    EXPECT_THROW(2 * Tenor(Unit::Days, 1073741824), std::out_of_range);
    EXPECT_THROW(65536 * Tenor(Unit::Days, 65536), std::out_of_range);
    // A unit outside the enumeration prints as empty text.
    EXPECT_EQ("", Tenor(static_cast<Unit>(6), 1).toString());
    EXPECT_EQ("", Tenor(static_cast<Unit>(0), 1).toString());
}
