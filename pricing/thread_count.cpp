#include "pricing/thread_count.hpp"

#include <stdexcept>
#include <string>

namespace tsr {

unsigned checkedThreadCount(long long requested, std::string_view shown) {
    if (shown.empty() && requested >= 1 && requested <= maxThreadCount) {
        return static_cast<unsigned>(requested);
    }
    throw std::invalid_argument(
        "Error, threads must be a count from 1 to " + std::to_string(maxThreadCount) + ", got " +
        (shown.empty() ? std::to_string(requested) : std::string(shown)) + ".");
}

} // namespace tsr
