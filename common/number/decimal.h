#pragma once
// Whole numbers as the update files write them: decimal digits only, no sign, blanks or leading zeros.
#include <cstdint>
#include <optional>
#include <string_view>

namespace vantorix::number {

// The value of a canonical decimal text up to max; nullopt for anything else ("", "+1", "01", "1 ").
std::optional<uint64_t> ParseDecimal(std::string_view text, uint64_t max);

}  // namespace vantorix::number
