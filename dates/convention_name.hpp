#pragma once

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace tsr {

// ASCII lower case, independent of the process locale (which an embedding interpreter sets).
constexpr char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Case-insensitive lookup of a convention name in a fixed (value, name) table, rows tried in
// table order. Shared by business-day rules, day counts, schedule rolls and interpolations.
// The messages deliberately do not repeat the text.
template <class E, std::size_t N>
E lookupConventionName(std::string_view text,
                       const std::array<std::pair<E, std::string_view>, N>& table) {
    if (text.empty()) {
        throw std::invalid_argument("empty string");
    }
    for (const auto& [value, name] : table) {
        if (name.size() != text.size()) {
            continue;
        }
        bool equal = true;
        for (std::size_t i = 0; equal && i < name.size(); ++i) {
            equal = asciiLower(text[i]) == asciiLower(name[i]);
        }
        if (equal) {
            return value;
        }
    }
    throw std::invalid_argument("unknown value");
}

} // namespace tsr
