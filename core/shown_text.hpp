#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tsr {

// The most bytes of an input that an error message repeats.
inline constexpr std::size_t shownTextLength = 80;

// `text` as an error message shows it: whole up to shownTextLength bytes, else its start, cut
// on a character boundary, and "...". A message names a bad value; it does not copy a
// megabyte of it.
std::string shownText(std::string_view text);

} // namespace tsr
