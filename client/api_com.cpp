// MiniblinkAPI through COM: each engine operation the client uses, as one early-bound call of the library's
// function table. A failed call throws, so that the step that made it stops there (the window procedure and
// the event sink are the boundaries that swallow it).
#include <windows.h>
#include <oleauto.h>

#include <stdexcept>
#include <string>

#include "Velview_G_201.h"
#include "client/engine_com.h"
#include "win/com_ptr.h"
#include "win/unique_bstr.h"

namespace vantorix::client {
namespace {

void Check(HRESULT hr) {
    if (FAILED(hr)) throw std::runtime_error("engine operation failed");
}

using win::unique_bstr;

LONG Handle(HWND window) { return static_cast<LONG>(reinterpret_cast<INT_PTR>(window)); }

class ComEngine final : public EngineApi {
public:
    explicit ComEngine(win::com_ptr<_MiniblinkAPI> api) : api_(std::move(api)) {}

    void InitializeEx(std::int32_t settings) override { Check(api_->wkeInitializeEx(settings)); }
    void JsBindFunction(const std::wstring& name, std::int32_t address, std::int32_t param, std::int32_t count) override {
        Check(api_->wkeJsBindFunction(unique_bstr::of(name).get(), address, param, count));
    }
    WebView CreateWebWindow(std::int32_t type, HWND parent, int x, int y, int width, int height) override {
        LONG view = 0;
        Check(api_->wkeCreateWebWindow(type, Handle(parent), x, y, width, height, &view));
        return view;
    }
    void ShowWindow(WebView view, bool show) override {
        Check(api_->wkeShowWindow(view, show ? VARIANT_TRUE : VARIANT_FALSE));
    }
    void OnLoadUrlBegin(WebView view, std::int32_t address, std::int32_t param) override {
        Check(api_->wkeOnLoadUrlBegin(view, address, param));
    }
    void OnCreateView(WebView view, std::int32_t address, std::int32_t param) override {
        Check(api_->wkeOnCreateView(view, address, param));
    }
    void OnDownload(WebView view, std::int32_t address, std::int32_t param) override {
        Check(api_->wkeOnDownload(view, address, param));
    }
    void LoadFileW(WebView view, const std::wstring& address) override {
        Check(api_->wkeLoadFileW(view, unique_bstr::of(address).get()));
    }
    void MoveWindow(WebView view, int x, int y, int width, int height) override {
        Check(api_->wkeMoveWindow(view, x, y, width, height));
    }
    void RunJS(WebView view, const std::wstring& script) override {
        CY ignored{};
        Check(api_->wkeRunJS(view, unique_bstr::of(script).get(), &ignored));
    }
    JsValue JsArg(JsExecState es, int index) override {
        CY value{};
        Check(api_->jsArg(es, index, &value));
        return value.int64;  // the script value travels bit for bit in the currency field
    }
    int JsArgCount(JsExecState es) override {
        LONG count = 0;
        Check(api_->jsArgCount(es, &count));
        return count;
    }
    std::wstring JsToTempStringW(JsExecState es, JsValue value) override {
        CY carrier{};
        carrier.int64 = value;
        unique_bstr text;
        Check(api_->jsToTempStringW(es, carrier, text.put()));
        return text.text();
    }

private:
    win::com_ptr<_MiniblinkAPI> api_;
};

}  // namespace

std::unique_ptr<EngineApi> CreateMiniblinkApi() {
    win::com_ptr<_MiniblinkAPI> api;
    if (FAILED(CoCreateInstance(CLSID_MiniblinkAPI, nullptr, CLSCTX_INPROC_SERVER, IID__MiniblinkAPI, api.put_void())))
        return nullptr;
    return std::make_unique<ComEngine>(std::move(api));
}

}  // namespace vantorix::client
