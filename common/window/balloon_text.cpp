#include "common/window/balloon_text.h"

namespace vantorix::window {

std::size_t FittingPrefixLength(std::string_view text, std::size_t field_size, const LeadBytePredicate& is_lead) {
    if (field_size == 0) return 0;
    const std::size_t room = field_size - 1;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t length = is_lead && is_lead(static_cast<unsigned char>(text[at])) ? 2 : 1;
        if (at + length > room || at + length > text.size()) break;
        at += length;
    }
    return at;
}

}  // namespace vantorix::window
