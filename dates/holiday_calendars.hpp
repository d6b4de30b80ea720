#pragma once

#include "dates/calendar_repository.hpp"

namespace tsr {

// Registers the seven built-in market calendars, in the order USGS, US, SG, TG, EN, JP, CH.
// Each has a Saturday-and-Sunday weekend and an explicit holiday list. A name already taken
// stops the registration there; the calendars registered before it stay.
void registerHolidayCalendars(CalendarRepository& repository);

} // namespace tsr
