#pragma once

#include "dates/calendar.hpp"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tsr {

// The process-wide calendars by name. Filled once at start-up, read afterwards.
class CalendarRepository {
public:
    static CalendarRepository& instance();

    // Throws std::runtime_error "Calendar already registered: <name>" for a taken name; the
    // registered calendar stays.
    void add(std::shared_ptr<Calendar> calendar);

    // One name, or several separated by commas, each trimmed of blanks and tabs. One name gives
    // the registered calendar itself; several give a new, unregistered union named by the whole
    // text.
    std::shared_ptr<const Calendar> get(std::string_view names) const;

    // Exact lookup of one name: no splitting, no trimming.
    std::shared_ptr<const Calendar> getSingle(const std::string& name) const;

private:
    // Transparent hashing lets lookups by string_view go without a temporary string.
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const {
            return std::hash<std::string_view>{}(name);
        }
    };

    const std::shared_ptr<Calendar>* find(std::string_view name) const;

    std::unordered_map<std::string, std::shared_ptr<Calendar>, NameHash, std::equal_to<>>
        calendars_;
};

} // namespace tsr
