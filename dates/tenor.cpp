#include "dates/tenor.hpp"

#include "core/shown_text.hpp"

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string_view>

namespace tsr {

namespace {

// Character classes of the tenor pattern as the classic locale defines them: \d is an ASCII
// digit and \s one of the six ASCII white-space characters.
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Full match of "(\d+)(\S{1,2})". The digit group is greedy and gives back characters only
// until one or two non-space characters remain, so the longest digit prefix that leaves a
// valid unit group wins. Returns the length of the digit group, or 0 when there is no match.
// Linear in the text length and without recursion, whatever the length.
std::size_t matchTenor(std::string_view text) {
    std::size_t digits = 0;
    while (digits < text.size() && isDigit(text[digits])) {
        ++digits;
    }
    for (std::size_t unitLength = 1; unitLength <= 2; ++unitLength) {
        if (text.size() <= unitLength) {
            break;
        }
        const std::size_t split = text.size() - unitLength;
        if (split > digits) {
            continue;
        }
        bool unitOk = true;
        for (std::size_t i = split; i < text.size(); ++i) {
            unitOk = unitOk && !isSpace(text[i]);
        }
        if (unitOk) {
            return split;
        }
    }
    return 0;
}

} // namespace

Tenor::Tenor(Unit unit, int amount) : unit_(unit), amount_(amount) {
    if (amount <= 0) {
        throw std::logic_error("Error, non-positive amount for the tenor.");
    }
}

Tenor::Tenor(const std::string& text) : unit_(static_cast<Unit>(0)), amount_(0) {
    // The text counts up to its first NUL character.
    const std::string_view input(text.c_str());
    const std::size_t split = matchTenor(input);
    if (split == 0) {
        throw std::runtime_error("Error, invalid tenor input: " + shownText(input));
    }
    // std::stoi reports a count beyond the 32-bit range as std::out_of_range("stoi").
    amount_ = std::stoi(std::string(input.substr(0, split)));

    const std::string_view unit = input.substr(split);
    if (unit.size() == 2) {
        if (upper(unit[0]) != 'B' || upper(unit[1]) != 'D') {
            throw std::runtime_error("Error, invalid tenor: " + shownText(input));
        }
        unit_ = Unit::BusinessDays;
        return;
    }
    switch (upper(unit[0])) {
    case 'D':
        unit_ = Unit::Days;
        break;
    case 'B':
        unit_ = Unit::BusinessDays;
        break;
    case 'W':
        unit_ = Unit::Weeks;
        break;
    case 'M':
        unit_ = Unit::Months;
        break;
    case 'Y':
        unit_ = Unit::Years;
        break;
    default:
        throw std::runtime_error("Error, invalid tenor :" + shownText(input));
    }
}

std::string Tenor::toString() const {
    const char* text = nullptr;
    switch (unit_) {
    case Unit::Days:
        text = "D";
        break;
    case Unit::BusinessDays:
        text = "BD";
        break;
    case Unit::Weeks:
        text = "W";
        break;
    case Unit::Months:
        text = "M";
        break;
    case Unit::Years:
        text = "Y";
        break;
    default:
        return {};
    }
    return std::to_string(amount_) + text;
}

Tenor operator*(int factor, Tenor tenor) {
    const std::int64_t product = static_cast<std::int64_t>(factor) * tenor.amount();
    // A product beyond the 32-bit range would silently wrap; refuse it instead.
    if (product > std::numeric_limits<std::int32_t>::max()) {
        throw std::out_of_range("Error, tenor amount out of range.");
    }
    if (product <= 0) {
        throw std::logic_error("Error, non-positive amount for the tenor.");
    }
    return Tenor(tenor.unit(), static_cast<int>(product));
}

} // namespace tsr
