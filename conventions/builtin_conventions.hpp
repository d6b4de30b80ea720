#pragma once

#include <span>
#include <string_view>

namespace tsr {

// JSON descriptions of the built-in overnight indices and swap generators,
// in registration order.
std::span<const std::string_view> builtinIndexTexts();
std::span<const std::string_view> builtinGeneratorTexts();
// The built-in overnight-index futures generators.
std::span<const std::string_view> builtinFutureGeneratorTexts();

} // namespace tsr
