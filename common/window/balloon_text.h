#pragma once
// Fitting text into the fixed byte fields of the notification-area record (64-byte balloon title, 256-byte
// balloon text) without splitting a character of a double-byte code page.
#include <cstddef>
#include <functional>
#include <string_view>

namespace vantorix::window {

// Tells whether a byte starts a two-byte character of the code page in use.
using LeadBytePredicate = std::function<bool(unsigned char)>;

// The number of leading bytes of `text` that fit into a field of `field_size` bytes with room for the
// terminator (at most field_size - 1 bytes), cut before a character that would not fit whole. A lead byte
// as the very last byte of the text (a broken character) is dropped too.
std::size_t FittingPrefixLength(std::string_view text, std::size_t field_size, const LeadBytePredicate& is_lead);

}  // namespace vantorix::window
