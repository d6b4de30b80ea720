#include "dates/calendar.hpp"

#include <utility>

namespace tsr {

Calendar::Calendar(std::string name) : name_(std::move(name)) {}

Calendar::~Calendar() = default;

} // namespace tsr
