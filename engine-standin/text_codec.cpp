#include "engine-standin/text_codec.h"

#include <windows.h>

#include <string_view>

#include "win/code_page.h"

namespace standin {

namespace win = vantorix::win;

std::string ToUtf8(const std::wstring& text) { return win::ToCodePage(text, CP_UTF8); }
std::string ToCodePage(const std::wstring& text) { return win::ToCodePage(text); }
std::wstring FromUtf8(const std::string& bytes) { return win::FromCodePage(bytes, CP_UTF8); }
std::wstring FromCodePage(const std::string& bytes) { return win::FromCodePage(bytes); }

std::wstring FromPageBytes(const std::string& bytes) {
    std::string_view body = bytes;
    if (body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
    if (body.empty()) return {};
    // Strictly valid UTF-8 only: anything else is a page's bytes.
    const bool utf8 =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, body.data(), static_cast<int>(body.size()), nullptr, 0) > 0;
    return win::FromCodePage(body, utf8 ? CP_UTF8 : CP_ACP);
}

}  // namespace standin
