#pragma once

#include <cstdint>
#include <string>

namespace tsr {

// A length of time as a count of one unit: 3M, 10Y, 2BD.
class Tenor {
public:
    enum class Unit : std::int32_t { Days = 1, BusinessDays = 2, Weeks = 3, Months = 4, Years = 5 };

    // Throws std::logic_error for an amount <= 0.
    Tenor(Unit unit, int amount);
    // Parses the text form: decimal digits followed by one or two unit letters. A zero count
    // is accepted here.
    explicit Tenor(const std::string& text);

    int amount() const { return amount_; }
    Unit unit() const { return unit_; }

    // Amount followed by the unit letters; the empty string for a unit outside the enumeration.
    std::string toString() const;

private:
    Unit unit_;
    std::int32_t amount_;
};

// The tenor with its amount multiplied; a product <= 0 throws like the constructor.
Tenor operator*(int factor, Tenor tenor);

} // namespace tsr
