#pragma once

#include "dates/calendar.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tsr {

// The process-wide calendars by name. Filled at start-up; users may replace a calendar later
// while other threads read, so every access takes the lock (readers share it).
class CalendarRepository {
public:
    static CalendarRepository& instance();

    CalendarRepository() = default;
    // Moves the calendars of a repository that no other thread uses (a local one).
    CalendarRepository(CalendarRepository&& other) noexcept
        : calendars_(std::move(other.calendars_)) {}

    // Throws std::runtime_error "Calendar already registered: <name>" for a taken name; the
    // registered calendar stays.
    void add(std::shared_ptr<Calendar> calendar);

    // Registers `calendar` under its name, in place of any calendar of that name. Objects built
    // before keep the calendar they were built with.
    void replace(std::shared_ptr<Calendar> calendar);

    // One name, or several separated by commas, each trimmed of blanks and tabs. One name gives
    // the registered calendar itself; several give a new, unregistered union named by the whole
    // text.
    std::shared_ptr<const Calendar> get(std::string_view names) const;

    // Exact lookup of one name: no splitting, no trimming.
    std::shared_ptr<const Calendar> getSingle(const std::string& name) const;

    // Every registered calendar, sorted by name.
    std::vector<std::shared_ptr<const Calendar>> all() const;

    // Counts the changes of any repository; a cache of anything built from calendars (a
    // schedule) is stale once this has moved on.
    static std::uint64_t generation() { return generation_.load(std::memory_order_acquire); }

private:
    // Transparent hashing lets lookups by string_view go without a temporary string.
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const {
            return std::hash<std::string_view>{}(name);
        }
    };

    // Callers hold the lock.
    const std::shared_ptr<Calendar>* find(std::string_view name) const;

    mutable std::shared_mutex mutex_;
    std::unordered_map<std::string, std::shared_ptr<Calendar>, NameHash, std::equal_to<>>
        calendars_;
    static inline std::atomic<std::uint64_t> generation_{0};
};

} // namespace tsr
