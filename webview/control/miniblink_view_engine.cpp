// The owners' engine calls, made through the library's own engine function table (MiniblinkAPI), so
// every one takes the typed path with its conventions: booleans as one byte, script values whole, text in
// UTF-16 for the W exports, a new cdecl adapter in front of each callback registered.
#include <new>
#include <string>

#include "webview/api/miniblink_api.h"
#include "webview/control/view_engine.h"
#include "win/com_ptr.h"
#include "win/unique_bstr.h"

namespace velview::view {
namespace {

using vantorix::win::unique_bstr;

// A text argument for one call of the table (no memory for it: the library's own error).
unique_bstr Text(const std::wstring& text) {
    try {
        return unique_bstr::of(text);
    } catch (const std::bad_alloc&) {
        throw EngineCallError{E_OUTOFMEMORY};
    }
}

void Check(HRESULT hr) {
    if (FAILED(hr)) throw EngineCallError{hr};
}

long Word(std::uint32_t value) { return static_cast<long>(value); }

class MiniblinkViewEngine final : public ViewEngine {
public:
    MiniblinkViewEngine() { Check(api::CreateMiniblinkAPI(api_.put())); }

    void InitializeEx() override { Check(api_->wkeInitializeEx(0)); }
    void BindJsCall(std::uint32_t dispatcher) override {
        Check(api_->wkeJsBindFunction(Text(L"jsCall").get(), Word(dispatcher), 0, 2));
    }
    std::int32_t CreateWebWindow(HWND parent, int width, int height) override {
        long view = 0;
        Check(api_->wkeCreateWebWindow(2, static_cast<long>(reinterpret_cast<std::uintptr_t>(parent)), 0, 0, width,
                                       height, &view));
        return view;
    }
    std::int32_t CreateWebView() override {
        long view = 0;
        Check(api_->wkeCreateWebView(&view));
        return view;
    }
    void ShowWindow(std::int32_t view) override { Check(api_->wkeShowWindow(view, VARIANT_TRUE)); }
    void Resize(std::int32_t view, int width, int height) override { Check(api_->wkeResize(view, width, height)); }
    void Register(Notification kind, std::int32_t view, std::uint32_t stub) override {
        switch (kind) {
            case Notification::DocumentReady: Check(api_->wkeOnDocumentReady(view, Word(stub), 0)); break;
            case Notification::LoadUrlBegin: Check(api_->wkeOnLoadUrlBegin(view, Word(stub), 0)); break;
            case Notification::CreateView: Check(api_->wkeOnCreateView(view, Word(stub), 0)); break;
            case Notification::LoadUrlEnd: Check(api_->wkeOnLoadUrlEnd(view, Word(stub), 0)); break;
        }
    }
    void LoadW(std::int32_t view, const std::wstring& url) override { Check(api_->wkeLoadW(view, Text(url).get())); }
    void LoadHTMLW(std::int32_t view, const std::wstring& html) override {
        Check(api_->wkeLoadHTMLW(view, Text(html).get()));
    }
    void LoadFileW(std::int32_t view, const std::wstring& filename) override {
        Check(api_->wkeLoadFileW(view, Text(filename).get()));
    }
    std::int64_t RunJSW(std::int32_t view, const std::wstring& script) override {
        CY value{};
        Check(api_->wkeRunJSW(view, Text(script).get(), &value));
        return value.int64;
    }
    std::int32_t GlobalExec(std::int32_t view) override {
        long es = 0;
        Check(api_->wkeGlobalExec(view, &es));
        return es;
    }
    std::int64_t Arg(std::int32_t es, int index) override {
        CY value{};
        Check(api_->jsArg(es, index, &value));
        return value.int64;
    }
    std::wstring ToTempStringW(std::int32_t es, std::int64_t value) override {
        CY v;
        v.int64 = value;
        unique_bstr text;
        Check(api_->jsToTempStringW(es, v, text.put()));
        return text.text();
    }
    bool IsLoadComplete(std::int32_t view) override {
        VARIANT_BOOL result = VARIANT_FALSE;
        Check(api_->wkeIsLoadComplete(view, &result));
        return result != VARIANT_FALSE;
    }
    bool IsDocumentReady(std::int32_t view) override {
        VARIANT_BOOL result = VARIANT_FALSE;
        Check(api_->wkeIsDocumentReady(view, &result));
        return result != VARIANT_FALSE;
    }
    bool FireMouseEvent(std::int32_t view, std::int32_t message, std::int32_t x, std::int32_t y,
                        std::int32_t flags) override {
        VARIANT_BOOL result = VARIANT_FALSE;
        Check(api_->wkeFireMouseEvent(view, message, x, y, flags, &result));
        return result != VARIANT_FALSE;
    }
    bool FireMouseWheelEvent(std::int32_t view, std::int32_t x, std::int32_t y, std::int32_t delta,
                             std::int32_t flags) override {
        VARIANT_BOOL result = VARIANT_FALSE;
        Check(api_->wkeFireMouseWheelEvent(view, x, y, delta, flags, &result));
        return result != VARIANT_FALSE;
    }
    void NetHookRequest(std::int32_t job) override { Check(api_->wkeNetHookRequest(job)); }
    std::wstring GetUserAgent(std::int32_t view) override {
        unique_bstr text;
        Check(api_->wkeGetUserAgent(view, text.put()));
        return text.text();
    }
    void SetUserAgent(std::int32_t view, const std::wstring& userAgent) override {
        Check(api_->wkeSetUserAgent(view, Text(userAgent).get()));
    }
    void SetTouchEnabled(std::int32_t view, bool enabled) override {
        Check(api_->wkeSetTouchEnabled(view, enabled ? VARIANT_TRUE : VARIANT_FALSE));
    }
    void SetMouseEnabled(std::int32_t view, bool enabled) override {
        Check(api_->wkeSetMouseEnabled(view, enabled ? VARIANT_TRUE : VARIANT_FALSE));
    }
    std::wstring GetURL(std::int32_t view) override {
        unique_bstr text;
        Check(api_->wkeGetURL(view, text.put()));
        return text.text();
    }
    std::wstring GetTitleW(std::int32_t view) override {
        unique_bstr text;
        Check(api_->wkeGetTitleW(view, text.put()));
        return text.text();
    }

private:
    vantorix::win::com_ptr<_MiniblinkAPI> api_;
};

}  // namespace

std::unique_ptr<ViewEngine> MakeMiniblinkViewEngine() { return std::make_unique<MiniblinkViewEngine>(); }

}  // namespace velview::view
