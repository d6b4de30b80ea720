#pragma once

#include "dates/calendar.hpp"

#include <memory>
#include <string>
#include <vector>

namespace tsr {

// A day is a business day of the union only when it is one for every member.
class UnionCalendar : public Calendar {
public:
    // Throws std::invalid_argument for an empty member list or a null member.
    UnionCalendar(std::string name, std::vector<std::shared_ptr<Calendar>> calendars);

    bool isBusinessDay(const date& d) const override;

    const std::vector<std::shared_ptr<Calendar>>& calendars() const { return calendars_; }

private:
    std::vector<std::shared_ptr<Calendar>> calendars_;
};

} // namespace tsr
