#pragma once

#include "dates/calendar.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
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
    // registered calendar stays. Both add and replace refuse a calendar whose weekend is all
    // seven days, which would have no business day at all.
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

    // A copy of the calendars registered now, for lookups that must all see one version of
    // them while other threads re-register (pin it with ScopedView). Its snapshotGeneration()
    // is the count at the time of the copy. The copy is kept until the next change, so that
    // taking one is cheap.
    std::shared_ptr<const CalendarRepository> snapshot() const;
    std::uint64_t snapshotGeneration() const { return snapshotGeneration_; }

    // The repository that lookups on this thread use: the view pinned by a live ScopedView,
    // else instance().
    static const CalendarRepository& current();

    // Sends the lookups of this thread to `view` while it lives.
    class ScopedView {
    public:
        explicit ScopedView(const CalendarRepository* view);
        ~ScopedView();
        ScopedView(const ScopedView&) = delete;
        ScopedView& operator=(const ScopedView&) = delete;

    private:
        const CalendarRepository* previous_;
    };

    // Pins a snapshot for the lookups of this thread while it lives, unless a view is pinned
    // already: the lookups of one object's construction all see the same calendars.
    class SteadyView {
    public:
        SteadyView();
        SteadyView(const SteadyView&) = delete;
        SteadyView& operator=(const SteadyView&) = delete;

    private:
        std::shared_ptr<const CalendarRepository> snapshot_;
        std::optional<ScopedView> view_;
    };

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
    std::uint64_t snapshotGeneration_ = 0;
    mutable std::mutex snapshotMutex_;
    mutable std::shared_ptr<const CalendarRepository> snapshot_;
    static inline std::atomic<std::uint64_t> generation_{0};
};

} // namespace tsr
