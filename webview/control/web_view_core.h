#pragma once
// One web view and everything an owner does with it: startup, pending content, the run-time settings, the
// engine-touching members and the five engine callback handlers that raise the owner's events.
//
// Velview (a windowed control) and VelviewCls (a window-less object) each hold one WebViewCore and
// forward their interface to it; the core reaches the owner only through its identity (kept alive while
// a callback runs) and its event source.
//
// Destruction: the view itself lives on in the engine (nothing in the library destroys a view), but the
// engine must not reach the destroyed owner any more. The five stubs are detached (a later engine call
// through them gets the neutral result, 0) and the view's routing entry is removed, so a page's jsCall
// from that view is dropped by the dispatcher.
#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <memory>
#include <string>

#include "webview/com/dispatch.h"
#include "webview/control/view_engine.h"
#include "webview/thunks/method_thunks.h"

namespace velview::view {

// An engine-touching member called before the view has started (the control was never shown in run
// mode): the call fails with this error and a description; the engine is not touched.
inline constexpr HRESULT kViewNotStarted = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0201);

enum class ViewKind { Windowed, Windowless };

// The text a caller reads (IErrorInfo) for a failure of a view member.
const wchar_t* DescriptionOf(HRESULT hr);

class WebViewCore {
public:
    // owner: the COM identity of the control or object (AddRef/Release while a callback runs);
    // typeName: its class name, for the stub factory's messages.
    WebViewCore(ViewKind kind, IUnknown* owner, EventSource& events, const wchar_t* typeName);
    WebViewCore(const WebViewCore&) = delete;
    WebViewCore& operator=(const WebViewCore&) = delete;
    ~WebViewCore();

    // Startup, run once: the first call builds the view (a child window of `host` filling width x height
    // for a windowed core; a window-less view otherwise) and loads the pending content. Later calls do
    // nothing. An error from the engine side stops startup; the core then stays started but never ready.
    HRESULT Start(HWND host, int width, int height);
    void Resize(int width, int height);  // only once ready

    bool started() const { return started_; }
    // While frozen (counted), events are dropped; the engine still gets each handler's result.
    void FreezeEvents(bool freeze) { frozenEvents_ += freeze ? 1 : (frozenEvents_ > 0 ? -1 : 0); }
    bool ready() const { return ready_; }

    // The members of the view's interface. Loads record their argument and act when ready; the engine-
    // touching ones fail with kViewNotStarted before startup.
    HRESULT LoadURL(BSTR url);
    HRESULT LoadHtml(BSTR html);
    HRESULT LoadFile(BSTR filename);
    HRESULT GetWebWindow(long* webView);
    HRESULT RunJs(BSTR js, BSTR* result);
    HRESULT GetEs(long* es);
    HRESULT IsLoadComplete(VARIANT_BOOL* result);
    HRESULT IsDocumentReady(VARIANT_BOOL* result);
    HRESULT SendMouseEvent(long message, long x, long y, long flags, VARIANT_BOOL* result);
    HRESULT SendMouseWheelEvent(long x, long y, long delta, long flags, VARIANT_BOOL* result);
    HRESULT NetHookRequest();
    HRESULT get_userAgent(BSTR* value);
    HRESULT put_userAgent(BSTR value);
    HRESULT get_TouchEnabled(VARIANT_BOOL* value);
    HRESULT put_TouchEnabled(VARIANT_BOOL value);
    HRESULT get_MouseEnabled(VARIANT_BOOL* value);
    HRESULT put_MouseEnabled(VARIANT_BOOL value);

    // The stub factory keeps the owner alive through these while a callback runs.
    ULONG AddRef() { return owner_->AddRef(); }
    ULONG Release() { return owner_->Release(); }

    // The five engine callback handlers, reached through the stubs (their table order is fixed: the
    // factory counts ordinals from its end). Each gives the engine its result; what one throws ends at its
    // stub (recorded, the neutral result).
    std::uint32_t OnLoadUrlEnd(std::uint32_t view, std::uint32_t param, std::uint32_t url, std::uint32_t job,
                               std::uint32_t buffer, std::uint32_t length);
    std::uint32_t OnCreateView(std::uint32_t view, std::uint32_t param, std::uint32_t navigationType,
                               std::uint32_t url, std::uint32_t windowFeatures);
    std::uint32_t OnJsCall(std::uint32_t es, std::uint32_t param);
    std::uint32_t OnLoadUrlBegin(std::uint32_t view, std::uint32_t param, std::uint32_t url, std::uint32_t job);
    std::uint32_t OnDocumentReady(std::uint32_t view, std::uint32_t param);

private:
    HRESULT NotStarted() const;
    void Raise(DISPID id, VARIANTARG* args, UINT count);
    void LoadPending();

    const ViewKind kind_;
    IUnknown* const owner_;
    EventSource& events_;

    static const thunks::Method kCallbackMethods[5];
    thunks::MethodThunks<WebViewCore, 5> thunks_;

    HWND hostWindow_ = nullptr;
    std::int32_t webView_ = 0;
    std::uint32_t documentReadyStub_ = 0;
    std::uint32_t loadUrlBeginStub_ = 0;
    std::uint32_t jsCallStub_ = 0;
    std::uint32_t showNewViewStub_ = 0;
    std::uint32_t loadUrlEndStub_ = 0;
    std::wstring pendingUrl_;
    std::wstring pendingHtml_;
    std::wstring pendingFile_;
    bool ready_ = false;
    bool touchSetting_ = false;
    bool mouseSetting_ = false;
    std::int32_t hookJob_ = 0;
    bool started_ = false;
    bool routed_ = false;   // this core wrote a routing entry for webView_
    int frozenEvents_ = 0;
    std::unique_ptr<ViewEngine> engine_;
};

}  // namespace velview::view
