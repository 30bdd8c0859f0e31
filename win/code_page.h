#pragma once
// Text in a Windows code page (the system's ANSI page unless named) to and from UTF-16, and bytes decoded
// by a charset name: the one place the programs and the library convert through the system's tables.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantorix::win {

// "" for empty text or text the page cannot convert.
std::wstring FromCodePage(std::string_view bytes, UINT code_page = CP_ACP);
// Characters the page lacks become its default character.
std::string ToCodePage(std::wstring_view text, UINT code_page = CP_ACP);

// Upper-cased by the invariant locale, as the file system compares names; the text as it is when the
// system cannot map it.
std::wstring UpperInvariant(std::wstring_view text);

// Decodes bytes in a named character set ("utf-8", "gbk", "unicode", ...; names compared without regard to
// ASCII case), as the platform's text stream does: a byte order mark at the start of UTF-8 or UTF-16 text
// is dropped and malformed UTF-8 becomes U+FFFD. "" for no bytes or a name it does not know.
std::wstring BytesToText(const std::vector<std::uint8_t>& bytes, const std::wstring& charset);

}  // namespace vantorix::win
