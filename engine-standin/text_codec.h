#pragma once
// Conversions between UTF-16 and the byte encodings the engine's callers use.
#include <string>

namespace standin {

std::string ToUtf8(const std::wstring& text);
std::string ToCodePage(const std::wstring& text);  // the system code page
std::wstring FromUtf8(const std::string& bytes);
std::wstring FromCodePage(const std::string& bytes);
// UTF-8 when the bytes are valid UTF-8 (a leading byte-order mark is dropped), else the system code page.
std::wstring FromPageBytes(const std::string& bytes);

}  // namespace standin
