#include "launcher/download/winhttp_transport.h"

#include <vector>

#include "common/download/validator.h"
#include "launcher/services/network_policy.h"

namespace vantorix::launcher {
namespace {

constexpr wchar_t kWindowClass[] = L"VantorixWinHttpDownSink";
// Posted from WinHTTP's threads; wParam carries the request id, lParam the value of the notification.
constexpr UINT kSendComplete = WM_APP + 0x301;
constexpr UINT kHeadersAvailable = WM_APP + 0x302;
constexpr UINT kReadComplete = WM_APP + 0x303;
constexpr UINT kRequestError = WM_APP + 0x304;

std::optional<std::wstring> QueryText(HINTERNET request, DWORD query, const wchar_t* name = WINHTTP_HEADER_NAME_BY_INDEX) {
    DWORD bytes = 0;
    ::WinHttpQueryHeaders(request, query, name, WINHTTP_NO_OUTPUT_BUFFER, &bytes, WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return std::nullopt;
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    if (!::WinHttpQueryHeaders(request, query, name, &text[0], &bytes, WINHTTP_NO_HEADER_INDEX)) return std::nullopt;
    text.resize(bytes / sizeof(wchar_t));
    return text;
}

std::optional<std::uint64_t> ParseLength(const std::wstring& text) {
    std::uint64_t value = 0;
    std::size_t digits = 0, i = 0;
    while (i < text.size() && text[i] == L' ') ++i;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i, ++digits) {
        if (value > (UINT64_MAX - 9) / 10) return std::nullopt;
        value = value * 10 + static_cast<unsigned>(text[i] - L'0');
    }
    while (i < text.size() && text[i] == L' ') ++i;
    if (digits == 0 || i != text.size()) return std::nullopt;
    return value;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';  // header values are ASCII
    return out;
}

}  // namespace

// Lives from Send until WinHTTP reports its request handle closed: WinHTTP may still write into the
// buffer or call back until then, even after the transport has let the request go.
struct WinHttpTransport::Request {
    HWND window;
    std::uint32_t id;
    DWORD secureFailure = 0;  // WinHTTP's flags of a failed certificate check, written before it reports the error
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(kBlockSize);
};

WinHttpTransport::WinHttpTransport(TransportEvents& events) : events_(events) {
    WNDCLASSEXW wc{};
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kWindowClass;
    MessageClass::Register(L"WinHttpTransport", wc);  // a second downloader finds it registered
    window_ = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this);
}

WinHttpTransport::~WinHttpTransport() {
    Abandon();
    session_.reset();
    // Messages still queued for this window are dropped with it.
    if (window_) ::DestroyWindow(window_);
}

bool WinHttpTransport::Send(const std::wstring& url, std::uint64_t rangeFrom, const std::string& ifRange) {
    Abandon();
    if (!window_) return false;
    // The session carries the proxy chosen for its address.
    if (!session_ || url != sessionUrl_) {
        session_ = services::OpenSession(url, WINHTTP_FLAG_ASYNC);
        sessionUrl_ = url;
        if (!session_) return false;
    }
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = parts.dwSchemeLength = DWORD(-1);
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                          std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (object.empty()) object = L"/";
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    win::unique_hinternet connection(::WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
    if (!connection) return false;
    win::unique_hinternet request(::WinHttpOpenRequest(connection.get(), L"GET", object.c_str(), nullptr,
                                                       WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                       secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return false;
    if (secure && checkRevocation_) services::EnableRevocationCheck(request.get());
    // ASCII by construction; a server whose file changed since the validator was kept answers with all of it.
    const std::string headers = download::RangeRequestHeaders(rangeFrom, ifRange);
    if (!headers.empty() && !::WinHttpAddRequestHeaders(request.get(), std::wstring(headers.begin(), headers.end()).c_str(),
                                                        DWORD(-1), WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
        return false;
    if (::WinHttpSetStatusCallback(request.get(), &OnWinHttp,
                                   WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES |
                                       WINHTTP_CALLBACK_FLAG_SECURE_FAILURE,
                                   0) == WINHTTP_INVALID_STATUS_CALLBACK)
        return false;

    auto* context = new Request{window_, ++nextId_};
    if (!::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                              reinterpret_cast<DWORD_PTR>(context))) {
        // The context never reached WinHTTP's notifications, except when it closes the handle: keep
        // it alive until then by handing it to the same closing path as any other request.
        ::WinHttpSetOption(request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context));
        request.reset();
        return false;
    }
    current_ = context;
    sent_ = {url, rangeFrom, ifRange};
    connection_ = std::move(connection);
    request_ = std::move(request);
    return true;
}

void WinHttpTransport::Abandon() {
    if (!request_) return;
    current_ = nullptr;  // from here on its posted messages no longer match
    request_.reset();     // WinHTTP cancels the outstanding operation and then reports the handle closed
    connection_.reset();
}

void CALLBACK WinHttpTransport::OnWinHttp(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    auto* request = reinterpret_cast<Request*>(context);
    if (!request) return;
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        ::PostMessageW(request->window, kSendComplete, request->id, 0);
        break;
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        ::PostMessageW(request->window, kHeadersAvailable, request->id, 0);
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        ::PostMessageW(request->window, kReadComplete, request->id, static_cast<LPARAM>(length));
        break;
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
        if (info) request->secureFailure = *static_cast<const DWORD*>(info);
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
        const auto* result = static_cast<const WINHTTP_ASYNC_RESULT*>(info);
        ::PostMessageW(request->window, kRequestError, request->id,
                       static_cast<LPARAM>(result ? result->dwError : ERROR_WINHTTP_INTERNAL_ERROR));
        break;
    }
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        delete request;  // the last notification WinHTTP gives for this handle
        break;
    default:
        break;
    }
}

LRESULT WinHttpTransport::HandleMessage(WinHttpTransport& self, HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message >= kSendComplete && message <= kRequestError) {
        self.OnPosted(message, static_cast<std::uint32_t>(wparam), lparam);
        return 0;
    }
    return ::DefWindowProcW(window, message, wparam, lparam);
}

void WinHttpTransport::OnPosted(UINT message, std::uint32_t id, LPARAM value) {
    if (!IsCurrent(id)) return;  // a request that was abandoned meanwhile
    switch (message) {
    case kSendComplete:
        if (!::WinHttpReceiveResponse(request_.get(), nullptr)) Fail(static_cast<long>(::GetLastError()));
        break;
    case kHeadersAvailable:
        HeadersArrived();
        break;
    case kReadComplete:
        if (value == 0) {
            events_.OnFinished();
            if (IsCurrent(id)) Abandon();
        } else {
            events_.OnData(current_->buffer.data(), static_cast<std::size_t>(value));
            if (IsCurrent(id)) ReadNext();  // not paused, stopped or restarted meanwhile
        }
        break;
    case kRequestError:
        if (checkRevocation_ && services::MayRetryWithoutRevocation(static_cast<DWORD>(value), current_->secureFailure)) {
            // Revocation could not be checked: sent again without that check, and so are this transport's
            // later requests.
            checkRevocation_ = false;
            const Sent again = sent_;
            if (Send(again.url, again.rangeFrom, again.ifRange)) break;
        }
        Fail(static_cast<long>(value));
        break;
    }
}

bool WinHttpTransport::IsCurrent(std::uint32_t id) const { return current_ && current_->id == id; }

void WinHttpTransport::HeadersArrived() {
    download::ResponseHead head;
    DWORD status = 0, size = sizeof(status);
    ::WinHttpQueryHeaders(request_.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    head.status = static_cast<int>(status);
    // Read as text: a length beyond 4 GiB does not fit the numeric form.
    if (auto length = QueryText(request_.get(), WINHTTP_QUERY_CONTENT_LENGTH)) head.contentLength = ParseLength(*length);
    if (auto range = QueryText(request_.get(), WINHTTP_QUERY_CUSTOM, L"Content-Range")) head.contentRange = Narrow(*range);
    if (auto tag = QueryText(request_.get(), WINHTTP_QUERY_ETAG)) head.etag = Narrow(*tag);
    if (auto date = QueryText(request_.get(), WINHTTP_QUERY_LAST_MODIFIED)) head.lastModified = Narrow(*date);
    if (auto coding = QueryText(request_.get(), WINHTTP_QUERY_CONTENT_ENCODING)) head.contentEncoding = Narrow(*coding);
    if (auto after = QueryText(request_.get(), WINHTTP_QUERY_RETRY_AFTER)) head.retryAfter = Narrow(*after);
    if (auto date = QueryText(request_.get(), WINHTTP_QUERY_DATE)) head.date = Narrow(*date);
    if (auto type = QueryText(request_.get(), WINHTTP_QUERY_CONTENT_TYPE)) head.contentType = Narrow(*type);
    const std::uint32_t id = current_->id;
    events_.OnResponseStart(head);
    if (IsCurrent(id)) ReadNext();
}

void WinHttpTransport::ReadNext() {
    if (!::WinHttpReadData(request_.get(), current_->buffer.data(), static_cast<DWORD>(current_->buffer.size()),
                           nullptr))
        Fail(static_cast<long>(::GetLastError()));
}

void WinHttpTransport::Fail(long code) {
    Abandon();
    events_.OnError(code);
}

}  // namespace vantorix::launcher
