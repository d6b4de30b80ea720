#include "core/shown_text.hpp"

namespace tsr {

std::string shownText(std::string_view text) {
    if (text.size() <= shownTextLength) {
        return std::string(text);
    }
    std::size_t end = shownTextLength - 3;
    // Back up over UTF-8 continuation bytes, so that no character is split.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0U) == 0x80U) {
        --end;
    }
    return std::string(text.substr(0, end)) + "...";
}

} // namespace tsr
