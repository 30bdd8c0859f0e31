#include "common/manifest/address_override.h"

#include "common/text/ascii.h"

namespace vantorix::manifest {

namespace {

bool AllDigits(const std::wstring& text) {
    if (text.empty() || text.size() > 5) return false;
    for (wchar_t c : text)
        if (c < L'0' || c > L'9') return false;
    return true;
}

}  // namespace

bool IsLoopbackAddress(const std::wstring& url) {
    const std::wstring lower = AsciiLower(url);
    size_t start = 0;
    if (lower.rfind(L"http://", 0) == 0)
        start = 7;
    else if (lower.rfind(L"https://", 0) == 0)
        start = 8;
    else
        return false;
    const size_t end = lower.find_first_of(L"/?#", start);
    const std::wstring authority = lower.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    // "127.0.0.1@other.example" names other.example; a backslash is read as a path by some parsers.
    if (authority.find_first_of(L"@\\ \t") != std::wstring::npos) return false;
    std::wstring host = authority, port;
    if (host.rfind(L"[::1]", 0) == 0) {
        port = host.substr(5);
        host = L"[::1]";
    } else if (const size_t colon = host.find(L':'); colon != std::wstring::npos) {
        port = host.substr(colon);
        host = host.substr(0, colon);
    }
    if (!port.empty() && (port[0] != L':' || !AllDigits(port.substr(1)))) return false;
    return host == L"127.0.0.1" || host == L"localhost" || host == L"[::1]";
}

}  // namespace vantorix::manifest
