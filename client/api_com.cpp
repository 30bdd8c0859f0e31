// MiniblinkAPI through COM: each engine operation the client uses, as one call of the library's function
// table. A failed call throws, so that the step that made it stops there (the window procedure is the
// boundary that swallows it).
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "client/engine_com.h"

using Microsoft::WRL::ComPtr;

namespace vantorix::client {
namespace {

constexpr const wchar_t* kApiProgId = L"Velview_G_201.MiniblinkAPI";

class Variant {
public:
    Variant() { VariantInit(&v_); }
    ~Variant() { VariantClear(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    static Variant Long(LONG value) {
        Variant v;
        v.v_.vt = VT_I4;
        v.v_.lVal = value;
        return v;
    }
    static Variant Bool(bool value) {
        Variant v;
        v.v_.vt = VT_BOOL;
        v.v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        return v;
    }
    static Variant Text(const std::wstring& text) {
        Variant v;
        v.v_.vt = VT_BSTR;
        v.v_.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return v;
    }
    static Variant Script(JsValue value) {  // the 64-bit script value carried in a currency field
        Variant v;
        v.v_.vt = VT_CY;
        v.v_.cyVal.int64 = value;
        return v;
    }
    Variant(Variant&& o) noexcept : v_(o.v_) { o.v_.vt = VT_EMPTY; }
    VARIANT* get() { return &v_; }

private:
    VARIANT v_;
};

class ComEngine final : public EngineApi {
public:
    explicit ComEngine(ComPtr<IDispatch> api) : api_(std::move(api)) {}

    void InitializeEx(std::int32_t settings) override { Call(L"wkeInitializeEx", Args(Variant::Long(settings))); }
    void JsBindFunction(const std::wstring& name, std::int32_t address, std::int32_t param, std::int32_t count) override {
        Call(L"wkeJsBindFunction", Args(Variant::Text(name), Variant::Long(address), Variant::Long(param), Variant::Long(count)));
    }
    WebView CreateWebWindow(std::int32_t type, HWND parent, int x, int y, int width, int height) override {
        return ToLong(Call(L"wkeCreateWebWindow",
                           Args(Variant::Long(type), Variant::Long(static_cast<LONG>(reinterpret_cast<INT_PTR>(parent))),
                                Variant::Long(x), Variant::Long(y), Variant::Long(width), Variant::Long(height))));
    }
    void ShowWindow(WebView view, bool show) override { Call(L"wkeShowWindow", Args(Variant::Long(view), Variant::Bool(show))); }
    void OnLoadUrlBegin(WebView view, std::int32_t address, std::int32_t param) override {
        Call(L"wkeOnLoadUrlBegin", Args(Variant::Long(view), Variant::Long(address), Variant::Long(param)));
    }
    void OnCreateView(WebView view, std::int32_t address, std::int32_t param) override {
        Call(L"wkeOnCreateView", Args(Variant::Long(view), Variant::Long(address), Variant::Long(param)));
    }
    void OnDownload(WebView view, std::int32_t address, std::int32_t param) override {
        Call(L"wkeOnDownload", Args(Variant::Long(view), Variant::Long(address), Variant::Long(param)));
    }
    void LoadFileW(WebView view, const std::wstring& address) override {
        Call(L"wkeLoadFileW", Args(Variant::Long(view), Variant::Text(address)));
    }
    void MoveWindow(WebView view, int x, int y, int width, int height) override {
        Call(L"wkeMoveWindow", Args(Variant::Long(view), Variant::Long(x), Variant::Long(y), Variant::Long(width),
                                    Variant::Long(height)));
    }
    void RunJS(WebView view, const std::wstring& script) override {
        Call(L"wkeRunJS", Args(Variant::Long(view), Variant::Text(script)));
    }
    JsValue JsArg(JsExecState es, int index) override {
        Variant result = Call(L"jsArg", Args(Variant::Long(es), Variant::Long(index)));
        VARIANT* v = result.get();
        if (v->vt == VT_CY) return v->cyVal.int64;
        if (v->vt == VT_I8) return v->llVal;
        return 0;
    }
    int JsArgCount(JsExecState es) override { return ToLong(Call(L"jsArgCount", Args(Variant::Long(es)))); }
    std::wstring JsToTempStringW(JsExecState es, JsValue value) override {
        Variant result = Call(L"jsToTempStringW", Args(Variant::Long(es), Variant::Script(value)));
        VARIANT* v = result.get();
        if (v->vt != VT_BSTR || !v->bstrVal) return {};
        return std::wstring(v->bstrVal, SysStringLen(v->bstrVal));
    }

private:
    template <class... A>
    static std::vector<Variant> Args(A&&... args) {
        std::vector<Variant> list;
        (list.push_back(std::move(args)), ...);
        return list;
    }

    static LONG ToLong(Variant&& result) {
        Variant value;
        if (FAILED(VariantChangeType(value.get(), result.get(), 0, VT_I4))) return 0;
        return value.get()->lVal;
    }

    Variant Call(const wchar_t* name, std::vector<Variant> args) {
        DISPID id = 0;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        if (FAILED(api_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
            throw std::runtime_error("engine operation not offered");
        // The dispatch list holds the arguments right to left.
        std::vector<VARIANT> list(args.size());
        for (std::size_t i = 0; i < args.size(); ++i) list[args.size() - 1 - i] = *args[i].get();
        DISPPARAMS params{list.data(), nullptr, static_cast<UINT>(list.size()), 0};
        Variant result;
        if (FAILED(api_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.get(), nullptr, nullptr)))
            throw std::runtime_error("engine operation failed");
        return result;
    }

    ComPtr<IDispatch> api_;
};

}  // namespace

std::unique_ptr<EngineApi> CreateMiniblinkApi() {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(kApiProgId, &clsid))) return nullptr;
    ComPtr<IDispatch> api;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(api.GetAddressOf()))))
        return nullptr;
    return std::make_unique<ComEngine>(std::move(api));
}

}  // namespace vantorix::client
