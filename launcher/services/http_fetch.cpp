// DecodeJSon's fetch: one GET over WinHTTP, bounded in time and size, judged by its status.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/manifest/utf8_text.h"
#include "common/text/ascii.h"
#include "launcher/services/network_policy.h"
#include "launcher/services/services.h"
#include "launcher/services/wide_text.h"
#include "win/unique_winhttp.h"

namespace vantorix::services {
namespace {

using win::unique_hinternet;

struct Charset {
    const wchar_t* name;
    UINT code_page;  // 0: UTF-8 through the portable decoder; 1200: UTF-16LE as it is
};
// The names the platform's stream object knows for the character sets this program may meet.
constexpr Charset kCharsets[] = {
    {L"utf-8", 0},         {L"utf8", 0},           {L"unicode", 1200},   {L"utf-16", 1200},
    {L"utf-16le", 1200},   {L"gbk", 936},          {L"gb2312", 936},     {L"cp936", 936},
    {L"gb18030", 54936},   {L"big5", 950},         {L"shift_jis", 932},  {L"windows-1252", 1252},
    {L"iso-8859-1", 28591}, {L"us-ascii", 20127},  {L"ascii", 20127},
};

std::optional<std::wstring> HeaderText(HINTERNET request, DWORD query) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return std::nullopt;
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size, WINHTTP_NO_HEADER_INDEX))
        return std::nullopt;
    text.resize(size / sizeof(wchar_t));
    return text;
}

// The request's context is where its secure-failure flags go.
void CALLBACK OnSecureFailure(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
    if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && info && context)
        *reinterpret_cast<DWORD*>(context) = *static_cast<const DWORD*>(info);
}

// Opens and sends one GET and waits for its answer's head; null on failure, with GetLastError() and
// secure_failure (WinHTTP's flags of a failed certificate check, 0 when none) telling why.
unique_hinternet SendGet(HINTERNET connection, const std::wstring& path, bool secure, const FetchLimits& limits,
                         bool check_revocation, DWORD& secure_failure) {
    secure_failure = 0;
    // Certificate checks stay as the system makes them: no security flags are relaxed.
    const DWORD flags = WINHTTP_FLAG_REFRESH | (secure ? WINHTTP_FLAG_SECURE : 0);
    unique_hinternet request(WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                                WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!request) return {};
    if (check_revocation) EnableRevocationCheck(request.get());
    WinHttpSetStatusCallback(request.get(), &OnSecureFailure, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
    DWORD response_timeout = limits.receive_timeout_ms;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout, sizeof response_timeout);
    // The maker's server answers with a stale copy unless told that nothing is cached here.
    if (!WinHttpAddRequestHeaders(request.get(), L"If-Modified-Since: 0", static_cast<DWORD>(-1),
                                  WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
        return {};
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                            reinterpret_cast<DWORD_PTR>(&secure_failure)) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        const DWORD error = GetLastError();
        request.reset();
        SetLastError(error);
        return {};
    }
    return request;
}

}  // namespace

std::optional<std::vector<uint8_t>> GetUrlBytes(const std::wstring& url, const FetchLimits& limits) {
    const ULONGLONG deadline = GetTickCount64() + limits.total_timeout_ms;
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (url.empty() || !WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return std::nullopt;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return std::nullopt;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";

    unique_hinternet session = OpenSession(url, 0);
    if (!session) return std::nullopt;
    WinHttpSetTimeouts(session.get(), static_cast<int>(limits.resolve_timeout_ms), static_cast<int>(limits.connect_timeout_ms),
                       static_cast<int>(limits.send_timeout_ms), static_cast<int>(limits.receive_timeout_ms));
    unique_hinternet connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    if (!connection) return std::nullopt;
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    DWORD secure_failure = 0;
    unique_hinternet request = SendGet(connection.get(), path, secure, limits, secure, secure_failure);
    if (!request && secure && MayRetryWithoutRevocation(GetLastError(), secure_failure))
        request = SendGet(connection.get(), path, secure, limits, false, secure_failure);
    if (!request) return std::nullopt;

    DWORD status = 0, size = sizeof status;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                             &status, &size, WINHTTP_NO_HEADER_INDEX))
        return std::nullopt;
    // An error page is not the document asked for.
    if (status < 200 || status > 299) return std::nullopt;
    if (auto length = HeaderText(request.get(), WINHTTP_QUERY_CONTENT_LENGTH)) {
        if (_wcstoui64(length->c_str(), nullptr, 10) > limits.max_body_bytes) return std::nullopt;
    }

    std::vector<uint8_t> body;
    for (;;) {
        if (GetTickCount64() > deadline) return std::nullopt;
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available)) return std::nullopt;
        if (available == 0) break;
        if (body.size() + available > limits.max_body_bytes) return std::nullopt;
        const size_t old = body.size();
        body.resize(old + available);
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), body.data() + old, available, &read)) return std::nullopt;
        body.resize(old + read);
        if (read == 0) break;
    }
    return body;
}

std::wstring BytesToText(const std::vector<uint8_t>& bytes, const std::wstring& charset) {
    const std::wstring name = AsciiLower(charset);
    auto found = std::find_if(std::begin(kCharsets), std::end(kCharsets), [&](const Charset& c) { return name == c.name; });
    if (found == std::end(kCharsets)) return L"";
    std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (found->code_page == 0) return Wide(manifest::CleanUtf8(raw));
    if (found->code_page == 1200) {
        std::wstring text(bytes.size() / 2, L'\0');
        std::memcpy(text.data(), bytes.data(), text.size() * 2);
        if (!text.empty() && text[0] == 0xFEFF) text.erase(0, 1);
        return text;
    }
    if (bytes.empty()) return L"";
    int n = MultiByteToWideChar(found->code_page, 0, raw.data(), static_cast<int>(raw.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(std::max(n, 0)), L'\0');
    if (n > 0) MultiByteToWideChar(found->code_page, 0, raw.data(), static_cast<int>(raw.size()), text.data(), n);
    return text;
}

std::wstring GetUrlText(const std::wstring& url, const std::wstring& charset, const FetchLimits& limits) {
    auto body = GetUrlBytes(url, limits);
    return body ? BytesToText(*body, charset) : std::wstring();
}

}  // namespace vantorix::services
