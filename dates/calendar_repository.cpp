#include "dates/calendar_repository.hpp"

#include "core/shown_text.hpp"
#include "dates/single_calendar.hpp"
#include "dates/union_calendar.hpp"

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

namespace tsr {

namespace {

std::string_view trimBlanksAndTabs(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

[[noreturn]] void throwNotFound(std::string_view name) {
    throw std::runtime_error("Calendar not found: " + shownText(name));
}

void requireBusinessDays(const Calendar& calendar) {
    const auto* single = dynamic_cast<const SingleCalendar*>(&calendar);
    if (single == nullptr) {
        return;
    }
    for (int day = 0; day < 7; ++day) {
        if (!single->weekend().contains(day)) {
            return;
        }
    }
    throw std::invalid_argument("Error, calendar " + shownText(calendar.name()) +
                                " has a weekend of seven days: a calendar needs a business day "
                                "in every week.");
}

thread_local const CalendarRepository* pinnedView = nullptr;

} // namespace

CalendarRepository& CalendarRepository::instance() {
    static CalendarRepository repository;
    return repository;
}

void CalendarRepository::add(std::shared_ptr<Calendar> calendar) {
    if (!calendar) {
        throw std::invalid_argument("Error, cannot register a null calendar.");
    }
    requireBusinessDays(*calendar);
    const std::unique_lock lock(mutex_);
    if (calendars_.find(calendar->name()) != calendars_.end()) {
        throw std::runtime_error("Calendar already registered: " + shownText(calendar->name()));
    }
    const std::string name = calendar->name();
    calendars_.emplace(name, std::move(calendar));
    generation_.fetch_add(1, std::memory_order_acq_rel);
}

void CalendarRepository::replace(std::shared_ptr<Calendar> calendar) {
    if (!calendar) {
        throw std::invalid_argument("Error, cannot register a null calendar.");
    }
    requireBusinessDays(*calendar);
    const std::unique_lock lock(mutex_);
    const std::string name = calendar->name();
    calendars_.insert_or_assign(name, std::move(calendar));
    generation_.fetch_add(1, std::memory_order_acq_rel);
}

std::shared_ptr<const CalendarRepository> CalendarRepository::snapshot() const {
    const std::shared_lock lock(mutex_);
    // Changes are counted under the exclusive lock, so the count matches the calendars.
    const std::uint64_t now = generation_.load(std::memory_order_acquire);
    {
        const std::lock_guard guard(snapshotMutex_);
        if (snapshot_ && snapshot_->snapshotGeneration_ == now) {
            return snapshot_;
        }
    }
    auto copy = std::make_shared<CalendarRepository>();
    copy->calendars_ = calendars_;
    copy->snapshotGeneration_ = now;
    const std::lock_guard guard(snapshotMutex_);
    snapshot_ = copy;
    return copy;
}

const CalendarRepository& CalendarRepository::current() {
    return pinnedView != nullptr ? *pinnedView : instance();
}

CalendarRepository::ScopedView::ScopedView(const CalendarRepository* view)
    : previous_(std::exchange(pinnedView, view)) {}

CalendarRepository::ScopedView::~ScopedView() {
    pinnedView = previous_;
}

CalendarRepository::SteadyView::SteadyView() {
    if (pinnedView == nullptr) {
        snapshot_ = instance().snapshot();
        view_.emplace(snapshot_.get());
    }
}

std::vector<std::shared_ptr<const Calendar>> CalendarRepository::all() const {
    std::vector<std::shared_ptr<const Calendar>> result;
    {
        const std::shared_lock lock(mutex_);
        for (const auto& [name, calendar] : calendars_) {
            result.push_back(calendar);
        }
    }
    std::sort(result.begin(), result.end(),
              [](const auto& a, const auto& b) { return a->name() < b->name(); });
    return result;
}

const std::shared_ptr<Calendar>* CalendarRepository::find(std::string_view name) const {
    const auto it = calendars_.find(name);
    return it == calendars_.end() ? nullptr : &it->second;
}

std::shared_ptr<const Calendar> CalendarRepository::get(std::string_view names) const {
    const std::shared_lock lock(mutex_);
    std::vector<std::shared_ptr<Calendar>> members;
    std::size_t pieces = 0;
    const std::shared_ptr<Calendar>* single = nullptr;
    std::size_t begin = 0;
    while (begin <= names.size()) {
        auto end = names.find(',', begin);
        if (end == std::string_view::npos) {
            end = names.size();
        }
        const std::string_view piece = trimBlanksAndTabs(names.substr(begin, end - begin));
        begin = end + 1;
        if (piece.empty()) {
            continue;
        }
        const auto* found = find(piece);
        if (found == nullptr) {
            throwNotFound(piece);
        }
        // Only a second piece makes a union, so a single name allocates nothing.
        if (++pieces == 1) {
            single = found;
            continue;
        }
        if (pieces == 2) {
            members.push_back(*single);
        }
        members.push_back(*found);
    }
    if (pieces == 0) {
        throw std::invalid_argument("Empty calendar name");
    }
    if (pieces == 1) {
        return *single;
    }
    return std::make_shared<const UnionCalendar>(std::string(names), std::move(members));
}

std::shared_ptr<const Calendar> CalendarRepository::getSingle(const std::string& name) const {
    const std::shared_lock lock(mutex_);
    const auto* found = find(name);
    if (found == nullptr) {
        throwNotFound(name);
    }
    return *found;
}

} // namespace tsr
