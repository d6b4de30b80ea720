#include "dates/business_day.hpp"

#include "dates/convention_name.hpp"

#include <array>
#include <utility>

namespace tsr {

namespace {

constexpr std::array<std::pair<BusinessDay, std::string_view>, 4> businessDayNames{{
    {BusinessDay::NoAdjustment, "No Adjustment"},
    {BusinessDay::Following, "Following"},
    {BusinessDay::ModifiedFollowing, "Modified Following"},
    {BusinessDay::Preceding, "Preceding"},
}};

} // namespace

BusinessDay parseBusinessDay(std::string_view name) {
    return lookupConventionName(name, businessDayNames);
}

} // namespace tsr
