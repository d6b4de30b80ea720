#include "dates/tenor.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

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

struct ParseCase {
    std::string text;
    Unit unit;
    int amount;
    std::string printed;
};

struct FailureCase {
    std::string text;
    std::string outcome;
};

} // namespace

TEST(Tenor, ParsesCountAndUnitInAnyLetterCase) {
    const std::vector<ParseCase> cases = {
        {"3M", Unit::Months, 3, "3M"},
        {"3m", Unit::Months, 3, "3M"},
        {"10Y", Unit::Years, 10, "10Y"},
        {"10y", Unit::Years, 10, "10Y"},
        {"1W", Unit::Weeks, 1, "1W"},
        {"1w", Unit::Weeks, 1, "1W"},
        {"2D", Unit::Days, 2, "2D"},
        {"2d", Unit::Days, 2, "2D"},
        {"2BD", Unit::BusinessDays, 2, "2BD"},
        {"2bd", Unit::BusinessDays, 2, "2BD"},
        {"2Bd", Unit::BusinessDays, 2, "2BD"},
        {"2bD", Unit::BusinessDays, 2, "2BD"},
        {"2B", Unit::BusinessDays, 2, "2BD"},
        {"2b", Unit::BusinessDays, 2, "2BD"},
        {"0M", Unit::Months, 0, "0M"},
        {"007D", Unit::Days, 7, "7D"},
        {"123Y", Unit::Years, 123, "123Y"},
        {"2147483647D", Unit::Days, 2147483647, "2147483647D"},
        {"18M", Unit::Months, 18, "18M"},
        {"12M", Unit::Months, 12, "12M"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.text);
        const Tenor tenor(c.text);
        EXPECT_EQ(c.unit, tenor.unit());
        EXPECT_EQ(c.amount, tenor.amount());
        EXPECT_EQ(c.printed, tenor.toString());
    }
}

TEST(Tenor, RejectsMalformedTextWithTheMessageOfItsKind) {
    const std::string input = "Error, invalid tenor input: ";
    const std::vector<FailureCase> cases = {
        {"", runtimeError(input)},
        {"M", runtimeError(input + "M")},
        {"3 M", runtimeError(input + "3 M")},
        {" 3M", runtimeError(input + " 3M")},
        {"3M ", runtimeError(input + "3M ")},
        {"-3M", runtimeError(input + "-3M")},
        {"3BDX", runtimeError(input + "3BDX")},
        {"3", runtimeError(input + "3")},
        {"3M\n", runtimeError(input + "3M\n")},
        {"3MO", runtimeError("Error, invalid tenor: 3MO")},
        {"3MM", runtimeError("Error, invalid tenor: 3MM")},
        {"3X", runtimeError("Error, invalid tenor :3X")},
        {"12", runtimeError("Error, invalid tenor :12")},
        {"123", runtimeError("Error, invalid tenor :123")},
        {"99999999999D", "out_of_range|stoi"},
        {"2147483648D", "out_of_range|stoi"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i) + ": " + cases[i].text);
        EXPECT_EQ(cases[i].outcome, parseOutcome(cases[i].text));
    }
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

TEST(Tenor, StopsAtTheFirstNulCharacter) {
    EXPECT_EQ(parsed(Unit::Months, 3), parseOutcome(std::string("3M\0garbage", 10)));
    EXPECT_EQ(runtimeError("Error, invalid tenor input: 3"), parseOutcome(std::string("3\0M", 3)));
}

TEST(Tenor, LongTextsAreJudgedWithoutExhaustingTheStack) {
    for (const std::size_t length : {std::size_t{100000}, std::size_t{1000000}}) {
        const std::string ones(length - 1, '1');
        const std::string zeros(length - 3, '0');
        const std::string letters(length, 'M');
        const std::vector<FailureCase> cases = {
            {ones + "D", "out_of_range|stoi"},
            // All digits: the last one is the unit, the count before it is converted first.
            {ones + "1", "out_of_range|stoi"},
            {zeros + "112", runtimeError("Error, invalid tenor :" + zeros + "112")},
            {ones + " ", runtimeError("Error, invalid tenor input: " + ones + " ")},
            {letters, runtimeError("Error, invalid tenor input: " + letters)},
            {zeros + "7BD", parsed(Unit::BusinessDays, 7)},
            {zeros + "42Y", parsed(Unit::Years, 42)},
            {zeros + "7DD", runtimeError("Error, invalid tenor: " + zeros + "7DD")},
        };
        for (std::size_t i = 0; i < cases.size(); ++i) {
            // Compared in one piece: a failure report of a million characters helps nobody.
            const std::string found = parseOutcome(cases[i].text);
            EXPECT_TRUE(cases[i].outcome == found)
                << "length " << length << " case " << i << ": found " << found.substr(0, 60);
        }
    }
}

TEST(Tenor, ConstructorFromUnitAndAmountRejectsNonPositiveAmounts) {
    const Tenor tenor(Unit::Weeks, 2);
    EXPECT_EQ(Unit::Weeks, tenor.unit());
    EXPECT_EQ(2, tenor.amount());
    EXPECT_EQ("2W", tenor.toString());
    for (const int amount : {0, -1, -2147483647 - 1}) {
        try {
            (void)Tenor(Unit::Months, amount);
            ADD_FAILURE() << "amount " << amount << " accepted";
        } catch (const std::logic_error& e) {
            EXPECT_STREQ("Error, non-positive amount for the tenor.", e.what());
        }
    }
}

TEST(Tenor, MultiplicationScalesTheAmountAndKeepsTheUnit) {
    const Tenor product = 3 * Tenor("6M");
    EXPECT_EQ(Unit::Months, product.unit());
    EXPECT_EQ(18, product.amount());
    EXPECT_EQ("18M", product.toString());
    EXPECT_EQ("24M", (4 * Tenor(Unit::Months, 6)).toString());
    EXPECT_EQ("4BD", (2 * Tenor("2b")).toString());
    for (const int factor : {0, -1}) {
        try {
            (void)(factor * Tenor("6M"));
            ADD_FAILURE() << "factor " << factor << " accepted";
        } catch (const std::logic_error& e) {
            EXPECT_STREQ("Error, non-positive amount for the tenor.", e.what());
        }
    }
    // A zero-count parsed tenor cannot be multiplied either.
    EXPECT_THROW(1 * Tenor("0D"), std::logic_error);
}

TEST(Tenor, MultiplicationBeyondTheIntegerRangeFailsInsteadOfWrapping) {
    EXPECT_EQ(2147483646, (2 * Tenor(Unit::Days, 1073741823)).amount());
    EXPECT_THROW(2 * Tenor(Unit::Days, 1073741824), std::out_of_range);
    EXPECT_THROW(65536 * Tenor(Unit::Days, 65536), std::out_of_range);
}

TEST(Tenor, UnitOutsideTheEnumerationPrintsAsEmptyText) {
    EXPECT_EQ("", Tenor(static_cast<Unit>(6), 1).toString());
    EXPECT_EQ("", Tenor(static_cast<Unit>(0), 1).toString());
}
