#include "conventions/builtin_conventions.hpp"

#include <array>

namespace tsr {

namespace {

// One JSON text per overnight index, keyed and spelt as the market data
// team maintains them.
constexpr std::array<std::string_view, 6> indexTexts{
    R"({"id": "SOFR", "type": "ois", "currency": "USD", "calendar": "USGS", "day count": "Act/360"})",
    R"({"id": "SORA", "type": "ois", "currency": "SGD", "calendar": "SG", "day count": "Act/365F"})",
    R"({"id": "SONIA", "type": "ois", "currency": "GBP", "calendar": "EN", "day count": "Act/365F"})",
    R"({"id": "ESTR", "type": "ois", "currency": "EUR", "calendar": "TG", "day count": "Act/360"})",
    R"({"id": "SARON", "type": "ois", "currency": "CHF", "calendar": "CH", "day count": "Act/360"})",
    R"({"id": "TONA", "type": "ois", "currency": "JPY", "calendar": "JP", "day count": "Act/365F"})",
};

// One JSON text per swap generator: leg 1 fixed and paid, leg 2 floating on
// the overnight index of the same currency.
constexpr std::array<std::string_view, 6> generatorTexts{
    R"({
        "id": "USD SOFR SW", "type": "irs", "start delay": 2, "calendar": "US",
        "leg1": {
            "currency": "USD",
            "is fixed": true,
            "is paid": true,
            "calendar": "US",
            "frequency": "1Y",
            "day count convention": "ACT/360",
            "accrual adjustment": "Modified Following",
            "accrual calendar": "US",
            "pay adjustment": "Following",
            "pay calendar": "US",
            "pay lag": 2,
            "roll": "backward"
        },
        "leg2": {
            "currency": "USD",
            "is fixed": false,
            "is paid": false,
            "calendar": "US",
            "index": "SOFR",
            "frequency": "1Y",
            "day count convention": "ACT/360",
            "accrual adjustment": "Modified Following",
            "accrual calendar": "US",
            "pay adjustment": "Following",
            "pay calendar": "US",
            "pay lag": 2,
            "roll": "backward"
        }
    })",
    R"({
        "id": "SGD SORA SW", "type": "irs", "start delay": 2, "calendar": "SG",
        "leg1": {
            "currency": "SGD",
            "is fixed": true,
            "is paid": true,
            "calendar": "SG",
            "frequency": "6M",
            "day count convention": "ACT/365F",
            "accrual adjustment": "Modified Following",
            "accrual calendar": "SG",
            "pay adjustment": "Following",
            "pay calendar": "SG",
            "pay lag": 2,
            "roll": "backward"
        },
        "leg2": {
            "currency": "SGD",
            "is fixed": false,
            "is paid": false,
            "calendar": "SG",
            "index": "SORA",
            "frequency": "6M",
            "day count convention": "ACT/365F",
            "accrual adjustment": "Modified Following",
            "accrual calendar": "SG",
            "pay adjustment": "Following",
            "pay calendar": "SG",
            "pay lag": 2,
            "roll": "backward"
        }
    })",
    R"({
        "id": "GBP SONIA SW", "type": "irs", "start delay": 0, "calendar": "EN",
        "leg1": {
            "currency": "GBP",
            "is fixed": true,
            "is paid": true,
            "calendar": "EN",
            "frequency": "1Y",
            "day count convention": "ACT/365F",
            "accrual adjustment": "Modified Following",
            "accrual calendar": "EN",
            "pay adjustment": "Following",
            "pay calendar": "EN",
            "pay lag": 0,
            "roll": "backward"
        },
        "leg2": {
            "currency": "GBP",
            "is fixed": false,
            "is paid": false,
            "calendar": "EN",
            "index": "SONIA",
            "frequency": "1Y",
            "day count convention": "ACT/365F",
            "accrual adjustment": "Modified Following",
            "accrual calendar": "EN",
            "pay adjustment": "Following",
            "pay calendar": "EN",
            "pay lag": 0,
            "roll": "backward"
        }
    })",
    R"({
        "id": "EUR ESTR SW", "type": "irs", "start delay": 2, "calendar": "TG",
        "leg1": {
            "currency": "EUR",
            "is fixed": true,
            "is paid": true,
            "calendar": "TG",
            "frequency": "1Y",
            "day count convention": "ACT/360",
            "accrual adjustment": "Modified Following",
            "accrual calendar": "TG",
            "pay adjustment": "Following",
            "pay calendar": "TG",
            "pay lag": 2,
            "roll": "backward"
        },
        "leg2": {
            "currency": "EUR",
            "is fixed": false,
            "is paid": false,
            "calendar": "TG",
            "index": "ESTR",
            "frequency": "1Y",
            "day count convention": "ACT/360",
            "accrual adjustment": "Modified Following",
            "accrual calendar": "TG",
            "pay adjustment": "Following",
            "pay calendar": "TG",
            "pay lag": 2,
            "roll": "backward"
        }
    })",
    R"({
        "id": "CHF SARON SW", "type": "irs", "start delay": 2, "calendar": "CH",
        "leg1": {
            "currency": "CHF",
            "is fixed": true,
            "is paid": true,
            "calendar": "CH",
            "frequency": "1Y",
            "day count convention": "ACT/360",
            "accrual adjustment": "Modified Following",
            "accrual calendar": "CH",
            "pay adjustment": "Following",
            "pay calendar": "CH",
            "pay lag": 2,
            "roll": "backward"
        },
        "leg2": {
            "currency": "CHF",
            "is fixed": false,
            "is paid": false,
            "calendar": "CH",
            "index": "SARON",
            "frequency": "1Y",
            "day count convention": "ACT/360",
            "accrual adjustment": "Modified Following",
            "accrual calendar": "CH",
            "pay adjustment": "Following",
            "pay calendar": "CH",
            "pay lag": 2,
            "roll": "backward"
        }
    })",
    R"({
        "id": "JPY TONA SW", "type": "irs", "start delay": 2, "calendar": "JP",
        "leg1": {
            "currency": "JPY",
            "is fixed": true,
            "is paid": true,
            "calendar": "JP",
            "frequency": "1Y",
            "day count convention": "ACT/365F",
            "accrual adjustment": "Modified Following",
            "accrual calendar": "JP",
            "pay adjustment": "following",
            "pay calendar": "JP",
            "pay lag": 2,
            "roll": "backward"
        },
        "leg2": {
            "currency": "JPY",
            "is fixed": false,
            "is paid": false,
            "calendar": "JP",
            "index": "TONA",
            "frequency": "1Y",
            "day count convention": "ACT/365F",
            "accrual adjustment": "Modified Following",
            "accrual calendar": "JP",
            "pay adjustment": "following",
            "pay calendar": "JP",
            "pay lag": 2,
            "roll": "backward"
        }
    })",
};

// One JSON text per overnight-index futures generator.
constexpr std::array<std::string_view, 7> futureGeneratorTexts{
    R"({"id": "USD SOFR 1M FUT", "type": "fut", "index": "SOFR", "months": 1, "averaging": "Arithmetic"})",
    R"({"id": "USD SOFR 3M FUT", "type": "fut", "index": "SOFR", "months": 3, "averaging": "Compounded"})",
    R"({"id": "GBP SONIA 3M FUT", "type": "fut", "index": "SONIA", "months": 3, "averaging": "Compounded"})",
    R"({"id": "EUR ESTR 3M FUT", "type": "fut", "index": "ESTR", "months": 3, "averaging": "Compounded"})",
    R"({"id": "CHF SARON 3M FUT", "type": "fut", "index": "SARON", "months": 3, "averaging": "Compounded"})",
    R"({"id": "JPY TONA 3M FUT", "type": "fut", "index": "TONA", "months": 3, "averaging": "Compounded"})",
    R"({"id": "SGD SORA 3M FUT", "type": "fut", "index": "SORA", "months": 3, "averaging": "Compounded"})",
};

} // namespace

std::span<const std::string_view> builtinFutureGeneratorTexts() {
    return futureGeneratorTexts;
}

std::span<const std::string_view> builtinIndexTexts() {
    return indexTexts;
}

std::span<const std::string_view> builtinGeneratorTexts() {
    return generatorTexts;
}

} // namespace tsr
