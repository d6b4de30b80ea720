#pragma once

#include <string_view>

namespace tsr {

// The most worker threads a call may ask for.
inline constexpr long long maxThreadCount = 4096;

// `requested` as a thread count; std::invalid_argument "Error, threads must be a count from 1
// to 4096, got <shown>." otherwise. `shown` is the value as the caller wrote it, when it does
// not fit a long long.
unsigned checkedThreadCount(long long requested, std::string_view shown = {});

} // namespace tsr
