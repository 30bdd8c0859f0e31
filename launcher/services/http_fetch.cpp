// DecodeJSon's fetch: one GET over WinHTTP, bounded in time and size, judged by its status.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "launcher/services/network_policy.h"
#include "launcher/services/services.h"
#include "launcher/services/wide_text.h"
#include "win/unique_winhttp.h"

namespace vantorix::services {
namespace {

using win::unique_hinternet;

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

std::wstring GetUrlText(const std::wstring& url, const std::wstring& charset, const FetchLimits& limits) {
    auto body = GetUrlBytes(url, limits);
    return body ? BytesToText(*body, charset) : std::wstring();
}

}  // namespace vantorix::services
