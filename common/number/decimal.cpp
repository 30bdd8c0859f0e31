#include "common/number/decimal.h"

namespace vantorix::number {

std::optional<uint64_t> ParseDecimal(std::string_view text, uint64_t max) {
    if (text.empty() || (text.size() > 1 && text[0] == '0')) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (max - digit) / 10) return std::nullopt;  // value * 10 + digit > max, without overflow
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace vantorix::number
