#include "win/code_page.h"

#include <cstring>

#include "common/text/ascii.h"
#include "common/text/utf8.h"

namespace vantorix::win {
namespace {

struct Charset {
    const wchar_t* name;
    UINT code_page;
};
// The charsets the update manifest and the engine's texts are asked for, and their usual aliases.
constexpr Charset kCharsets[] = {
    {L"utf-8", CP_UTF8},   {L"utf8", CP_UTF8},      {L"unicode", 1200},   {L"utf-16", 1200},
    {L"utf-16le", 1200},   {L"gbk", 936},           {L"gb2312", 936},     {L"cp936", 936},
    {L"gb18030", 54936},   {L"big5", 950},          {L"shift_jis", 932},  {L"windows-1252", 1252},
    {L"iso-8859-1", 28591}, {L"us-ascii", 20127},   {L"ascii", 20127},
};

}  // namespace

std::wstring FromCodePage(std::string_view bytes, UINT code_page) {
    if (bytes.empty()) return {};
    const int n = ::MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring text(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), n);
    return text;
}

std::string ToCodePage(std::wstring_view text, UINT code_page) {
    if (text.empty()) return {};
    const int n =
        ::WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string bytes(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
    return bytes;
}

std::wstring UpperInvariant(std::wstring_view text) {
    if (text.empty()) return {};
    std::wstring upper(text.size(), L'\0');
    const int n = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), static_cast<int>(text.size()),
                                  upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
    if (n <= 0) return std::wstring(text);
    upper.resize(static_cast<std::size_t>(n));
    return upper;
}

std::wstring BytesToText(const std::vector<std::uint8_t>& bytes, const std::wstring& charset) {
    if (bytes.empty()) return {};
    const std::wstring name = AsciiLower(charset);
    UINT code_page = 0;
    for (const Charset& c : kCharsets)
        if (name == c.name) code_page = c.code_page;
    if (code_page == 0) return {};
    std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (code_page == CP_UTF8) {
        if (raw.substr(0, 3) == "\xEF\xBB\xBF") raw.remove_prefix(3);
        const std::u16string text = text::DecodeUtf8(raw);
        return std::wstring(text.begin(), text.end());
    }
    if (code_page == 1200) {
        std::wstring text(bytes.size() / 2, L'\0');
        std::memcpy(text.data(), bytes.data(), text.size() * 2);
        if (!text.empty() && text[0] == 0xFEFF) text.erase(0, 1);
        return text;
    }
    return FromCodePage(raw, code_page);
}

}  // namespace vantorix::win
