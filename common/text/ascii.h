#pragma once
#include <string>

namespace vantorix {

// Lower-cases one ASCII letter; any other byte or code unit stays as it is.
template <class Char>
constexpr Char AsciiLowerChar(Char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

// The same for every character of a text.
template <class Str>
Str AsciiLower(Str text) {
    for (auto& c : text) c = AsciiLowerChar(c);
    return text;
}

}  // namespace vantorix
