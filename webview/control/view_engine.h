#pragma once
// The engine calls a web view owner (the Velview control, the VelviewCls object) makes, in one narrow
// interface. The one implementation goes through MiniblinkAPI, so every call takes the library's typed,
// convention-adapting path; owners never see export names or adapters.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace velview::view {

// An engine call that failed on the library's side (no memory for its arguments, no function table).
// Engine failures themselves are silent and give neutral results; this carries the library's own error.
struct EngineCallError {
    HRESULT hr;
};

// The four notifications an owner registers on its view, in registration order.
enum class Notification { DocumentReady, LoadUrlBegin, CreateView, LoadUrlEnd };

class ViewEngine {
public:
    virtual ~ViewEngine() = default;

    virtual void InitializeEx() = 0;                                            // wkeInitializeEx(0)
    virtual void BindJsCall(std::uint32_t dispatcher) = 0;                     // "jsCall", 0, 2 arguments
    virtual std::int32_t CreateWebWindow(HWND parent, int width, int height) = 0;  // child type 2 at 0,0
    virtual std::int32_t CreateWebView() = 0;
    virtual void ShowWindow(std::int32_t view) = 0;
    virtual void Resize(std::int32_t view, int width, int height) = 0;
    virtual void Register(Notification kind, std::int32_t view, std::uint32_t stub) = 0;  // param 0

    virtual void LoadW(std::int32_t view, const std::wstring& url) = 0;
    virtual void LoadHTMLW(std::int32_t view, const std::wstring& html) = 0;
    virtual void LoadFileW(std::int32_t view, const std::wstring& filename) = 0;
    virtual std::int64_t RunJSW(std::int32_t view, const std::wstring& script) = 0;
    virtual std::int32_t GlobalExec(std::int32_t view) = 0;
    virtual std::int64_t Arg(std::int32_t es, int index) = 0;
    virtual std::wstring ToTempStringW(std::int32_t es, std::int64_t value) = 0;
    virtual bool IsLoadComplete(std::int32_t view) = 0;
    virtual bool IsDocumentReady(std::int32_t view) = 0;
    virtual bool FireMouseEvent(std::int32_t view, std::int32_t message, std::int32_t x, std::int32_t y,
                                std::int32_t flags) = 0;
    virtual bool FireMouseWheelEvent(std::int32_t view, std::int32_t x, std::int32_t y, std::int32_t delta,
                                     std::int32_t flags) = 0;
    virtual void NetHookRequest(std::int32_t job) = 0;
    virtual std::wstring GetUserAgent(std::int32_t view) = 0;
    virtual void SetUserAgent(std::int32_t view, const std::wstring& userAgent) = 0;
    virtual void SetTouchEnabled(std::int32_t view, bool enabled) = 0;
    virtual void SetMouseEnabled(std::int32_t view, bool enabled) = 0;
    virtual std::wstring GetURL(std::int32_t view) = 0;
    virtual std::wstring GetTitleW(std::int32_t view) = 0;
};

// A new engine function table for one owner (creating it runs the engine file check, with its message
// when node.dll is missing).
std::unique_ptr<ViewEngine> MakeMiniblinkViewEngine();

}  // namespace velview::view
