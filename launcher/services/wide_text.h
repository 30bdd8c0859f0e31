#pragma once
// UTF-8 (the portable core's text) to and from UTF-16 (the programs' text).
#include <string>
#include <string_view>

#include "common/text/utf8.h"

namespace vantorix::services {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

inline std::wstring Wide(std::string_view utf8) {
    std::u16string u = text::DecodeUtf8(utf8);
    return std::wstring(u.begin(), u.end());
}

inline std::string Utf8(std::wstring_view wide) {
    return text::EncodeUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

}  // namespace vantorix::services
