#include "webview/control/web_view_core.h"

#include <oleauto.h>

#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "common/number/leading_number.h"
#include "webview/bridge/my_module.h"
#include "webview/bridge/universal_dll_calls.h"
#include "webview/com/library_log.h"
#include "webview/com/module.h"
#include "webview/routing/js_call_routing.h"
#include "win/unique_bstr.h"

namespace velview::view {
namespace {

// The event ids of the view's outgoing interface.
enum EventId : DISPID { kDocumentReady = 1, kLoadUrlBegin = 2, kJsCall = 3, kShowNewView = 4, kLoadUrlEnd = 5 };

// The stub of each slot: handler ordinal (counted from the end of kCallbackMethods) and argument words.
struct StubSpec {
    int ordinal;
    int paramCount;
};
constexpr StubSpec kStubs[5] = {{1, 2}, {2, 4}, {3, 2}, {4, 5}, {5, 6}};

constexpr Notification kRegistrations[4] = {Notification::DocumentReady, Notification::LoadUrlBegin,
                                             Notification::CreateView, Notification::LoadUrlEnd};

using vantorix::win::unique_bstr;

// An event's text argument; the BSTR stays the caller's (it lives for the length of the event).
VARIANTARG TextArg(const unique_bstr& text) {
    VARIANTARG v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = text.get();
    return v;
}

// The byte array of one load-end event: the host may replace or erase it; what is there at the end is
// freed, however the event ends.
class EventBytes {
public:
    explicit EventBytes(SAFEARRAY* array) : array_(array) {}
    EventBytes(const EventBytes&) = delete;
    EventBytes& operator=(const EventBytes&) = delete;
    ~EventBytes() {
        if (array_) SafeArrayDestroy(array_);
    }
    SAFEARRAY** slot() { return &array_; }

private:
    SAFEARRAY* array_;
};

// Sets the hookable request for the length of one load-begin event and puts the outer one back after it.
class HookScope {
public:
    HookScope(std::int32_t& current, std::int32_t job) : current_(current), outer_(current) { current_ = job; }
    HookScope(const HookScope&) = delete;
    HookScope& operator=(const HookScope&) = delete;
    ~HookScope() { current_ = outer_; }

private:
    std::int32_t& current_;
    const std::int32_t outer_;
};

VARIANTARG LongArg(long value) {
    VARIANTARG v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

std::wstring FromBstr(BSTR text) { return unique_bstr::text_of(text); }

std::wstring TextAt(std::uint32_t address) {
    return cUniversalDLLCalls::PointerToStringA(reinterpret_cast<const char*>(static_cast<std::uintptr_t>(address)));
}

VARIANT_BOOL Bool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// A byte array indexed from 0 holding exactly `bytes`; an empty array (not a missing one) for none.
SAFEARRAY* ByteArray(const std::vector<std::uint8_t>& bytes) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!array) throw std::bad_alloc();
    if (!bytes.empty()) {
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(array, &data))) {
            SafeArrayDestroy(array);
            throw std::bad_alloc();
        }
        std::memcpy(data, bytes.data(), bytes.size());
        SafeArrayUnaccessData(array);
    }
    return array;
}

// COM members: exceptions become HRESULTs here.
template <class Fn>
HRESULT Boundary(Fn&& fn) noexcept {
    try {
        return fn();
    } catch (const EngineCallError& e) {
        return e.hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        RecordCurrentException(L"Velview", L"a call on the control failed; the caller gets E_FAIL");
        return E_FAIL;
    }
}

}  // namespace

const thunks::Method WebViewCore::kCallbackMethods[5] = {
    thunks::MethodOf<&WebViewCore::OnLoadUrlEnd>(), thunks::MethodOf<&WebViewCore::OnCreateView>(),
    thunks::MethodOf<&WebViewCore::OnJsCall>(), thunks::MethodOf<&WebViewCore::OnLoadUrlBegin>(),
    thunks::MethodOf<&WebViewCore::OnDocumentReady>()};

WebViewCore::WebViewCore(ViewKind kind, IUnknown* owner, EventSource& events, const wchar_t* typeName)
    : kind_(kind), owner_(owner), events_(events), thunks_(*this, typeName, kCallbackMethods) {}

WebViewCore::~WebViewCore() {
    // The stubs detach themselves with thunks_; the routing entry goes here, so the dispatcher drops later
    // page calls from this view instead of calling a detached stub.
    if (routed_) routing::RemoveJsCallRoute(static_cast<std::uint32_t>(webView_), jsCallStub_);
}

HRESULT WebViewCore::Start(HWND host, int width, int height) {
    if (started_) return S_OK;
    started_ = true;
    mouseSetting_ = true;
    return Boundary([&] {
        std::uint32_t* stubs[5] = {&documentReadyStub_, &loadUrlBeginStub_, &jsCallStub_, &showNewViewStub_,
                                   &loadUrlEndStub_};
        for (int slot = 0; slot < 5; ++slot)
            *stubs[slot] = thunks_.cb_Callback(kStubs[slot].ordinal, kStubs[slot].paramCount, slot);
        hostWindow_ = host;
        engine_ = MakeMiniblinkViewEngine();
        engine_->InitializeEx();
        if (routing::ClaimJsCallBinding()) engine_->BindJsCall(routing::JsCallDispatchAddress());
        webView_ = kind_ == ViewKind::Windowed ? engine_->CreateWebWindow(hostWindow_, width, height)
                                               : engine_->CreateWebView();
        routing::SetJsCallRoute(static_cast<std::uint32_t>(webView_), jsCallStub_);
        routed_ = true;
        if (kind_ == ViewKind::Windowed) engine_->ShowWindow(webView_);
        const std::uint32_t registered[4] = {documentReadyStub_, loadUrlBeginStub_, showNewViewStub_,
                                             loadUrlEndStub_};
        for (int i = 0; i < 4; ++i) engine_->Register(kRegistrations[i], webView_, registered[i]);
        ready_ = true;
        LoadPending();
        return S_OK;
    });
}

void WebViewCore::LoadPending() {
    if (!pendingUrl_.empty())
        engine_->LoadW(webView_, pendingUrl_);
    else if (!pendingHtml_.empty())
        engine_->LoadHTMLW(webView_, pendingHtml_);
    else if (!pendingFile_.empty())
        engine_->LoadFileW(webView_, pendingFile_);
}

void WebViewCore::Resize(int width, int height) {
    if (!ready_) return;
    try {
        engine_->Resize(webView_, width, height);
    } catch (...) {
        // A window message is no place for an error; the view keeps its old size.
        Record(L"Velview", L"the view could not follow the control's new size");
    }
}

void WebViewCore::Raise(DISPID id, VARIANTARG* args, UINT count) {
    if (frozenEvents_ > 0) return;  // the container asked for no events (IOleControl::FreezeEvents)
    events_.Fire(id, args, count);
}

HRESULT WebViewCore::NotStarted() const { return kViewNotStarted; }

const wchar_t* DescriptionOf(HRESULT hr) {
    switch (hr) {
        case kViewNotStarted:
            return L"The web view has not started yet: show the control in run mode before calling this member.";
        case E_POINTER: return module::kMissingResultText;
        case E_OUTOFMEMORY: return module::kNoMemoryText;
        default: return L"The web engine call failed.";
    }
}

HRESULT WebViewCore::LoadURL(BSTR url) {
    return Boundary([&] {
        pendingUrl_ = FromBstr(url);
        if (ready_) engine_->LoadW(webView_, pendingUrl_);
        return S_OK;
    });
}

HRESULT WebViewCore::LoadHtml(BSTR html) {
    return Boundary([&] {
        pendingHtml_ = FromBstr(html);
        if (ready_) engine_->LoadHTMLW(webView_, pendingHtml_);
        return S_OK;
    });
}

HRESULT WebViewCore::LoadFile(BSTR filename) {
    return Boundary([&] {
        pendingFile_ = FromBstr(filename);
        if (ready_) engine_->LoadFileW(webView_, pendingFile_);
        return S_OK;
    });
}

HRESULT WebViewCore::GetWebWindow(long* webView) {
    if (!webView) return E_POINTER;
    *webView = webView_;
    return S_OK;
}

HRESULT WebViewCore::RunJs(BSTR js, BSTR* result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    if (!engine_) return NotStarted();
    return Boundary([&] {
        std::int64_t value = engine_->RunJSW(webView_, FromBstr(js));
        std::int32_t es = engine_->GlobalExec(webView_);
        *result = unique_bstr::of(engine_->ToTempStringW(es, value)).release();
        return S_OK;
    });
}

HRESULT WebViewCore::GetEs(long* es) {
    if (!es) return E_POINTER;
    *es = 0;
    if (!engine_) return NotStarted();
    return Boundary([&] {
        *es = engine_->GlobalExec(webView_);
        return S_OK;
    });
}

HRESULT WebViewCore::IsLoadComplete(VARIANT_BOOL* result) {
    if (!result) return E_POINTER;
    *result = VARIANT_FALSE;
    if (!engine_) return NotStarted();
    return Boundary([&] {
        *result = Bool(engine_->IsLoadComplete(webView_));
        return S_OK;
    });
}

HRESULT WebViewCore::IsDocumentReady(VARIANT_BOOL* result) {
    if (!result) return E_POINTER;
    *result = VARIANT_FALSE;
    if (!engine_) return NotStarted();
    return Boundary([&] {
        *result = Bool(engine_->IsDocumentReady(webView_));
        return S_OK;
    });
}

HRESULT WebViewCore::SendMouseEvent(long message, long x, long y, long flags, VARIANT_BOOL* result) {
    if (!result) return E_POINTER;
    *result = VARIANT_FALSE;
    if (!engine_) return NotStarted();
    return Boundary([&] {
        *result = Bool(engine_->FireMouseEvent(webView_, message, x, y, flags));
        return S_OK;
    });
}

HRESULT WebViewCore::SendMouseWheelEvent(long x, long y, long delta, long flags, VARIANT_BOOL* result) {
    if (!result) return E_POINTER;
    *result = VARIANT_FALSE;
    if (!engine_) return NotStarted();
    return Boundary([&] {
        *result = Bool(engine_->FireMouseWheelEvent(webView_, x, y, delta, flags));
        return S_OK;
    });
}

HRESULT WebViewCore::NetHookRequest() {
    if (hookJob_ == 0) return S_OK;  // only inside a LoadUrlBegin event
    return Boundary([&] {
        engine_->NetHookRequest(hookJob_);
        return S_OK;
    });
}

HRESULT WebViewCore::get_userAgent(BSTR* value) {
    if (!value) return E_POINTER;
    return Boundary([&] {
        *value = unique_bstr::of(ready_ ? engine_->GetUserAgent(webView_) : std::wstring()).release();
        return S_OK;
    });
}

HRESULT WebViewCore::put_userAgent(BSTR value) {
    if (!ready_) return S_OK;
    return Boundary([&] {
        engine_->SetUserAgent(webView_, FromBstr(value));
        return S_OK;
    });
}

HRESULT WebViewCore::get_TouchEnabled(VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    *value = Bool(ready_ && touchSetting_);
    return S_OK;
}

HRESULT WebViewCore::put_TouchEnabled(VARIANT_BOOL value) {
    if (!ready_) return S_OK;
    touchSetting_ = value != VARIANT_FALSE;
    return Boundary([&] {
        engine_->SetTouchEnabled(webView_, touchSetting_);
        return S_OK;
    });
}

HRESULT WebViewCore::get_MouseEnabled(VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    *value = Bool(ready_ && mouseSetting_);
    return S_OK;
}

HRESULT WebViewCore::put_MouseEnabled(VARIANT_BOOL value) {
    if (!ready_) return S_OK;
    mouseSetting_ = value != VARIANT_FALSE;
    return Boundary([&] {
        engine_->SetMouseEnabled(webView_, mouseSetting_);
        return S_OK;
    });
}

// ---- engine callbacks ------------------------------------------------------------------------------------
// Whatever a handler throws ends at the stub that called it (webview/thunks): recorded, and the engine gets
// the neutral result. Every object a handler makes for its event cleans up on the way out.

std::uint32_t WebViewCore::OnDocumentReady(std::uint32_t view, std::uint32_t) {
    const unique_bstr url = unique_bstr::of(engine_->GetURL(static_cast<std::int32_t>(view)));
    VARIANTARG args[1] = {TextArg(url)};
    Raise(kDocumentReady, args, 1);
    return 0;
}

std::uint32_t WebViewCore::OnLoadUrlBegin(std::uint32_t view, std::uint32_t, std::uint32_t url, std::uint32_t job) {
    const unique_bstr title = unique_bstr::of(engine_->GetTitleW(static_cast<std::int32_t>(view)));
    const unique_bstr address = unique_bstr::of(TextAt(url));
    VARIANTARG args[2] = {TextArg(title), TextArg(address)};
    // NetHookRequest acts on this request while the event runs; a nested load-begin restores the outer
    // request afterwards rather than clearing it under the outer handler, and however the event ends
    // (a failing or faulting sink, an exception) no request stays hookable after it.
    HookScope hook(hookJob_, static_cast<std::int32_t>(job));
    Raise(kLoadUrlBegin, args, 2);
    return 0;
}

std::uint32_t WebViewCore::OnJsCall(std::uint32_t es, std::uint32_t) {
    const auto state = static_cast<std::int32_t>(es);
    std::int64_t first = engine_->Arg(state, 0);
    std::int64_t second = engine_->Arg(state, 1);
    std::wstring indexText = engine_->ToTempStringW(state, first);
    const unique_bstr info = unique_bstr::of(engine_->ToTempStringW(state, second));
    auto index = vantorix::number::RoundHalfEvenToInt32(vantorix::number::LeadingNumber(
        std::u16string_view(reinterpret_cast<const char16_t*>(indexText.data()), indexText.size())));
    // A first argument beyond the 32-bit range has no index to hand over; rather than a clipped or
    // wrapped number the call is not passed on.
    if (!index) return 0;
    VARIANTARG args[2] = {LongArg(*index), TextArg(info)};
    Raise(kJsCall, args, 2);
    return 0;
}

std::uint32_t WebViewCore::OnCreateView(std::uint32_t view, std::uint32_t, std::uint32_t, std::uint32_t url,
                                        std::uint32_t) {
    const unique_bstr address = unique_bstr::of(TextAt(url));
    long ret = 0;
    VARIANTARG args[2];
    args[0] = TextArg(address);
    VariantInit(&args[1]);
    args[1].vt = VT_I4 | VT_BYREF;
    args[1].plVal = &ret;
    Raise(kShowNewView, args, 2);
    return ret != 0 ? static_cast<std::uint32_t>(ret) : view;
}

std::uint32_t WebViewCore::OnLoadUrlEnd(std::uint32_t, std::uint32_t, std::uint32_t url, std::uint32_t,
                                        std::uint32_t buffer, std::uint32_t length) {
    const unique_bstr address = unique_bstr::of(TextAt(url));
    // Nothing of what the host does with the array goes back to the engine.
    EventBytes data(ByteArray(MyModule::ByteArrayFromPointer(
        reinterpret_cast<const void*>(static_cast<std::uintptr_t>(buffer)), static_cast<long>(length))));
    VARIANTARG args[2];
    args[0] = TextArg(address);
    VariantInit(&args[1]);
    args[1].vt = VT_ARRAY | VT_UI1 | VT_BYREF;
    args[1].pparray = data.slot();
    Raise(kLoadUrlEnd, args, 2);
    return 0;
}

}  // namespace velview::view
