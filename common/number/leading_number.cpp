#include "common/number/leading_number.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace vantorix::number {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int DigitValue(char16_t c, int base) {
    int v = -1;
    if (c >= u'0' && c <= u'9') v = c - u'0';
    else if (c >= u'a' && c <= u'f') v = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F') v = c - u'A' + 10;
    return v >= 0 && v < base ? v : -1;
}

// "&H..." / "&O...": the digits form an unsigned pattern; up to 32 bits it is read as a signed 32-bit value.
// A longer pattern keeps its magnitude, so it reads as out of range rather than silently wrapped.
double PrefixedNumber(const std::u16string& s, int base) {
    std::uint64_t value = 0;
    bool wide = false;
    for (std::size_t i = 2; i < s.size(); ++i) {
        int d = DigitValue(s[i], base);
        if (d < 0) break;
        value = value * base + d;
        if (value > 0xFFFFFFFFull) wide = true;
        if (wide) value = 0x100000000ull;  // stays above the 32-bit range whatever follows
    }
    if (wide) return static_cast<double>(value);
    return static_cast<double>(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
}

double DecimalNumber(const std::u16string& s) {
    std::string ascii;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) ascii += static_cast<char>(s[i++]);
    bool digits = false;
    while (i < s.size() && IsDigit(s[i])) { ascii += static_cast<char>(s[i++]); digits = true; }
    if (i < s.size() && s[i] == u'.') {
        ascii += '.';
        ++i;
        while (i < s.size() && IsDigit(s[i])) { ascii += static_cast<char>(s[i++]); digits = true; }
    }
    if (!digits) return 0.0;
    if (i < s.size() && (s[i] == u'e' || s[i] == u'E' || s[i] == u'd' || s[i] == u'D')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < s.size() && (s[j] == u'+' || s[j] == u'-')) exponent += static_cast<char>(s[j++]);
        bool expDigits = false;
        while (j < s.size() && IsDigit(s[j])) { exponent += static_cast<char>(s[j++]); expDigits = true; }
        if (expDigits) ascii += exponent;
    }
    return std::strtod(ascii.c_str(), nullptr);
}

}  // namespace

double LeadingNumber(std::u16string_view text) {
    std::u16string s;
    s.reserve(text.size());
    for (char16_t c : text)
        if (!IsBlank(c)) s += c;
    if (s.size() >= 2 && s[0] == u'&') {
        if (s[1] == u'H' || s[1] == u'h') return PrefixedNumber(s, 16);
        if (s[1] == u'O' || s[1] == u'o') return PrefixedNumber(s, 8);
        return 0.0;
    }
    return DecimalNumber(s);
}

std::optional<std::int32_t> RoundHalfEvenToInt32(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    double whole = std::floor(value);
    double rest = value - whole;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
    if (whole < -2147483648.0 || whole > 2147483647.0) return std::nullopt;
    return static_cast<std::int32_t>(whole);
}

}  // namespace vantorix::number
