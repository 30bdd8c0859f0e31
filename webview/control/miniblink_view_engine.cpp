// The owners' engine calls, each one export of node.dll called through the native call bridge with the
// engine's conventions: cdecl, booleans as one byte (true only when the byte is 1), script values as 64
// bits, text in UTF-16 for the W exports and the code page for the plain ones, callbacks behind a new
// cdecl adapter per registration (kept for the life of the process: the engine may call it any time).
#include <array>
#include <string>

#include "webview/bridge/universal_dll_calls.h"
#include "webview/bridge/variant.h"
#include "webview/control/view_engine.h"

namespace velview::view {
namespace {

constexpr wchar_t kEngine[] = L"node.dll";
constexpr int kCdecl = 1;  // CC_CDECL
enum ResultType { kNone = VT_EMPTY, kInt = VT_I4, kScript = VT_CY, kByte = VT_UI1 };

struct RegistrationExport {
    Notification kind;
    const wchar_t* name;
    int arguments;
};
constexpr RegistrationExport kRegistrationExports[] = {
    {Notification::DocumentReady, L"wkeOnDocumentReady", 2},
    {Notification::LoadUrlBegin, L"wkeOnLoadUrlBegin", 4},
    {Notification::CreateView, L"wkeOnCreateView", 5},
    {Notification::LoadUrlEnd, L"wkeOnLoadUrlEnd", 6},
};

Variant I(std::int32_t v) { return Variant::Int32(v); }
Variant B(bool v) { return Variant::Byte(v ? 1 : 0); }
Variant J(std::int64_t v) { return Variant::Bits64(v); }
Variant T(const std::wstring& s) { return Variant::Text(s.c_str(), static_cast<UINT>(s.size())); }

class MiniblinkViewEngine final : public ViewEngine {
public:
    void InitializeEx() override { Call(L"wkeInitializeEx", kNone, kStringAsIs, I(0)); }
    void BindJsCall(std::uint32_t dispatcher) override {
        std::uint32_t adapter = Adapter(dispatcher, 2);
        Call(L"wkeJsBindFunction", kNone, kStringCodePage, T(L"jsCall"), I(static_cast<std::int32_t>(adapter)), I(0),
             I(2));
    }
    std::int32_t CreateWebWindow(HWND parent, int width, int height) override {
        return Call(L"wkeCreateWebWindow", kInt, kStringAsIs, I(2),
                    I(static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(parent))), I(0), I(0), I(width),
                    I(height))
            .AsInt32();
    }
    std::int32_t CreateWebView() override { return Call(L"wkeCreateWebView", kInt, kStringAsIs).AsInt32(); }
    void ShowWindow(std::int32_t view) override { Call(L"wkeShowWindow", kNone, kStringAsIs, I(view), B(true)); }
    void Resize(std::int32_t view, int width, int height) override {
        Call(L"wkeResize", kNone, kStringAsIs, I(view), I(width), I(height));
    }
    void Register(Notification kind, std::int32_t view, std::uint32_t stub) override {
        for (const auto& r : kRegistrationExports)
            if (r.kind == kind)
                Call(r.name, kNone, kStringAsIs, I(view), I(static_cast<std::int32_t>(Adapter(stub, r.arguments))),
                     I(0));
    }
    void LoadW(std::int32_t view, const std::wstring& url) override {
        Call(L"wkeLoadW", kNone, kStringUtf16, I(view), T(url));
    }
    void LoadHTMLW(std::int32_t view, const std::wstring& html) override {
        Call(L"wkeLoadHTMLW", kNone, kStringUtf16, I(view), T(html));
    }
    void LoadFileW(std::int32_t view, const std::wstring& filename) override {
        Call(L"wkeLoadFileW", kNone, kStringUtf16, I(view), T(filename));
    }
    std::int64_t RunJSW(std::int32_t view, const std::wstring& script) override {
        return Call(L"wkeRunJSW", kScript, kStringUtf16, I(view), T(script)).AsBits64();
    }
    std::int32_t GlobalExec(std::int32_t view) override {
        return Call(L"wkeGlobalExec", kInt, kStringAsIs, I(view)).AsInt32();
    }
    std::int64_t Arg(std::int32_t es, int index) override {
        return Call(L"jsArg", kScript, kStringAsIs, I(es), I(index)).AsBits64();
    }
    std::wstring ToTempStringW(std::int32_t es, std::int64_t value) override {
        return Utf16(Call(L"jsToTempStringW", kInt, kStringAsIs, I(es), J(value)).AsInt32());
    }
    bool IsLoadComplete(std::int32_t view) override {
        return Call(L"wkeIsLoadComplete", kByte, kStringAsIs, I(view)).AsByte() == 1;
    }
    bool IsDocumentReady(std::int32_t view) override {
        return Call(L"wkeIsDocumentReady", kByte, kStringAsIs, I(view)).AsByte() == 1;
    }
    bool FireMouseEvent(std::int32_t view, std::int32_t message, std::int32_t x, std::int32_t y,
                        std::int32_t flags) override {
        return Call(L"wkeFireMouseEvent", kByte, kStringAsIs, I(view), I(message), I(x), I(y), I(flags)).AsByte() == 1;
    }
    bool FireMouseWheelEvent(std::int32_t view, std::int32_t x, std::int32_t y, std::int32_t delta,
                             std::int32_t flags) override {
        return Call(L"wkeFireMouseWheelEvent", kByte, kStringAsIs, I(view), I(x), I(y), I(delta), I(flags)).AsByte() ==
               1;
    }
    void NetHookRequest(std::int32_t job) override { Call(L"wkeNetHookRequest", kNone, kStringAsIs, I(job)); }
    std::wstring GetUserAgent(std::int32_t view) override {
        return Utf8(Call(L"wkeGetUserAgent", kInt, kStringAsIs, I(view)).AsInt32());
    }
    void SetUserAgent(std::int32_t view, const std::wstring& userAgent) override {
        Call(L"wkeSetUserAgent", kNone, kStringCodePage, I(view), T(userAgent));
    }
    void SetTouchEnabled(std::int32_t view, bool enabled) override {
        Call(L"wkeSetTouchEnabled", kNone, kStringAsIs, I(view), B(enabled));
    }
    void SetMouseEnabled(std::int32_t view, bool enabled) override {
        Call(L"wkeSetMouseEnabled", kNone, kStringAsIs, I(view), B(enabled));
    }
    std::wstring GetURL(std::int32_t view) override {
        return Utf8(Call(L"wkeGetURL", kInt, kStringAsIs, I(view)).AsInt32());
    }
    std::wstring GetTitleW(std::int32_t view) override {
        return Utf16(Call(L"wkeGetTitleW", kInt, kStringAsIs, I(view)).AsInt32());
    }

private:
    template <class... Args>
    Variant Call(const wchar_t* name, ResultType result, int stringMode, Args&&... args) {
        std::array<Variant, sizeof...(Args)> list{std::move(args)...};
        std::array<VARIANT, sizeof...(Args) + 1> raw{};
        for (std::size_t i = 0; i < list.size(); ++i) raw[i] = *list[i].get();  // shallow: list keeps ownership
        return bridge_.CallFunction_DLL(kEngine, name, stringMode, result, kCdecl, raw.data(), list.size());
    }
    static std::uint32_t Adapter(std::uint32_t routine, int arguments) {
        if (!routine) return 0;  // the engine then gets 0 in its place
        return cUniversalDLLCalls::ThunkFor_CDeclCallbackToVB(
            reinterpret_cast<const void*>(static_cast<std::uintptr_t>(routine)), arguments);
    }
    static std::wstring Utf8(std::int32_t pointer) {
        return cUniversalDLLCalls::PointerToStringUTF8(reinterpret_cast<const char*>(static_cast<std::uintptr_t>(pointer)));
    }
    static std::wstring Utf16(std::int32_t pointer) {
        return cUniversalDLLCalls::PointerToStringW(
            reinterpret_cast<const wchar_t*>(static_cast<std::uintptr_t>(pointer)));
    }

    cUniversalDLLCalls bridge_;
};

}  // namespace

std::unique_ptr<ViewEngine> MakeMiniblinkViewEngine() { return std::make_unique<MiniblinkViewEngine>(); }

}  // namespace velview::view
