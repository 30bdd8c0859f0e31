#include "webview/bridge/my_module.h"

#include <cstring>

#include "common/text/ascii.h"
#include "common/text/utf8.h"

namespace velview::MyModule {
namespace {

struct Charset {
    const wchar_t* name;
    UINT codePage;
};
// The charsets the platform's stream object is asked for in this system, and their usual aliases.
constexpr Charset kCharsets[] = {
    {L"utf-8", CP_UTF8},  {L"utf8", CP_UTF8},       {L"gbk", 936},          {L"gb2312", 936},
    {L"big5", 950},       {L"shift_jis", 932},      {L"windows-1252", 1252}, {L"iso-8859-1", 28591},
    {L"us-ascii", 20127}, {L"unicode", 1200},       {L"utf-16", 1200},      {L"utf-16le", 1200},
};

}  // namespace

std::vector<std::uint8_t> ByteArrayFromPointer(const void* address, long n) {
    if (!address || n <= 0) return {};
    const auto* bytes = static_cast<const std::uint8_t*>(address);
    return std::vector<std::uint8_t>(bytes, bytes + n);
}

std::wstring PercentEncodeUtf8(const std::wstring& text) {
    const std::u16string encoded = vantorix::text::PercentEncodeUtf8(std::u16string(text.begin(), text.end()));
    return std::wstring(encoded.begin(), encoded.end());
}

std::wstring BytesToText(const std::vector<std::uint8_t>& bytes, const std::wstring& charset) {
    if (bytes.empty()) return {};
    const std::wstring name = vantorix::AsciiLower(charset);
    UINT codePage = 0;
    for (const Charset& c : kCharsets)
        if (name == c.name) codePage = c.codePage;
    if (codePage == 0) return {};
    if (codePage == CP_UTF8) {
        const std::u16string text = vantorix::text::DecodeUtf8(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        return std::wstring(text.begin(), text.end());
    }
    if (codePage == 1200) {
        std::wstring text(bytes.size() / 2, L'\0');
        std::memcpy(text.data(), bytes.data(), text.size() * 2);
        return text;
    }
    const int size = MultiByteToWideChar(codePage, 0, reinterpret_cast<const char*>(bytes.data()),
                                         static_cast<int>(bytes.size()), nullptr, 0);
    if (size <= 0) return {};
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(codePage, 0, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()),
                        text.data(), size);
    return text;
}

}  // namespace velview::MyModule
