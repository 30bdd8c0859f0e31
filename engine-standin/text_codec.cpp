#include "engine-standin/text_codec.h"

#include <windows.h>

namespace standin {
namespace {

std::string Encode(UINT page, const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(page, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

bool Decode(UINT page, DWORD flags, const std::string& bytes, std::wstring& out) {
    out.clear();
    if (bytes.empty()) return true;
    int n = MultiByteToWideChar(page, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return false;
    out.resize(n);
    MultiByteToWideChar(page, flags, bytes.data(), static_cast<int>(bytes.size()), &out[0], n);
    return true;
}

}  // namespace

std::string ToUtf8(const std::wstring& text) { return Encode(CP_UTF8, text); }
std::string ToCodePage(const std::wstring& text) { return Encode(CP_ACP, text); }

std::wstring FromUtf8(const std::string& bytes) {
    std::wstring out;
    Decode(CP_UTF8, 0, bytes, out);
    return out;
}

std::wstring FromCodePage(const std::string& bytes) {
    std::wstring out;
    Decode(CP_ACP, 0, bytes, out);
    return out;
}

std::wstring FromPageBytes(const std::string& bytes) {
    std::string body = bytes;
    if (body.size() >= 3 && body.compare(0, 3, "\xEF\xBB\xBF") == 0) body.erase(0, 3);
    std::wstring out;
    if (Decode(CP_UTF8, MB_ERR_INVALID_CHARS, body, out)) return out;
    return FromCodePage(body);
}

}  // namespace standin
