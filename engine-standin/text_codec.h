#pragma once
// Conversions between UTF-16 and the byte encodings the engine's callers use.
#include <algorithm>
#include <string>

namespace standin {

std::string ToUtf8(const std::wstring& text);
std::string ToCodePage(const std::wstring& text);  // the system code page
std::wstring FromUtf8(const std::string& bytes);
std::wstring FromCodePage(const std::string& bytes);
// UTF-8 when the bytes are valid UTF-8 (a leading byte-order mark is dropped), else the system code page.
std::wstring FromPageBytes(const std::string& bytes);

// Copies the text into a caller's buffer of `size` characters, cut to fit with its terminator; returns the
// whole text's length, so that a caller can ask again with room enough.
template <typename Char>
int CopyOut(const std::basic_string<Char>& text, Char* buf, int size) {
    if (buf && size > 0) {
        const int n = std::min<int>(static_cast<int>(text.size()), size - 1);
        std::copy_n(text.data(), n, buf);
        buf[n] = 0;
    }
    return static_cast<int>(text.size());
}

}  // namespace standin
