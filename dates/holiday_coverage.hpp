#pragma once

#include <optional>
#include <string_view>

namespace tsr {

// Where the holidays of a run of years came from: the library's own lists, holiday rules
// generated for the years after them, or lists the user registered.
enum class HolidaySource { BuiltIn, Rules, User };

// The years firstYear..lastYear (inclusive) of a calendar, listed from one source.
struct HolidaySpan {
    int firstYear = 0;
    int lastYear = 0;
    HolidaySource source = HolidaySource::User;
};

// "built-in", "rules" or "user".
constexpr std::string_view holidaySourceName(HolidaySource source) {
    switch (source) {
    case HolidaySource::BuiltIn:
        return "built-in";
    case HolidaySource::Rules:
        return "rules";
    case HolidaySource::User:
        break;
    }
    return "user";
}

// The source of that name, or nothing.
constexpr std::optional<HolidaySource> parseHolidaySource(std::string_view name) {
    for (const HolidaySource source :
         {HolidaySource::BuiltIn, HolidaySource::Rules, HolidaySource::User}) {
        if (name == holidaySourceName(source)) {
            return source;
        }
    }
    return std::nullopt;
}

} // namespace tsr
