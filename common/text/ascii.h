#pragma once
#include <string>

namespace vantorix {

// Lower-cases ASCII letters only; other bytes and code units stay as they are.
template <class Str>
Str AsciiLower(Str text) {
    for (auto& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<typename Str::value_type>(c - 'A' + 'a');
    return text;
}

}  // namespace vantorix
