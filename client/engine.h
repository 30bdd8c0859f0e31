#pragma once
// What the client needs of the web engine and of the engine's callback receiver. The real implementation
// (engine_com.cpp) reaches both through the control library's COM classes MiniblinkAPI and MiniblinkCallBack;
// MainForm and the page commands only see these two interfaces.
#include <windows.h>

#include <cstdint>
#include <string>

namespace vantorix::client {

using WebView = std::int32_t;    // engine view handle; 0 means none
using JsExecState = std::int32_t;
using JsValue = std::int64_t;    // the engine's 64-bit script value, carried bit for bit

// The engine's function table (MiniblinkAPI).
class EngineApi {
public:
    virtual ~EngineApi() = default;
    virtual void InitializeEx(std::int32_t settings) = 0;
    virtual void JsBindFunction(const std::wstring& name, std::int32_t address, std::int32_t param,
                                std::int32_t arg_count) = 0;
    virtual WebView CreateWebWindow(std::int32_t type, HWND parent, int x, int y, int width, int height) = 0;
    virtual void ShowWindow(WebView view, bool show) = 0;
    virtual void OnLoadUrlBegin(WebView view, std::int32_t address, std::int32_t param) = 0;
    virtual void OnCreateView(WebView view, std::int32_t address, std::int32_t param) = 0;
    virtual void OnDownload(WebView view, std::int32_t address, std::int32_t param) = 0;
    virtual void LoadFileW(WebView view, const std::wstring& address) = 0;
    virtual void MoveWindow(WebView view, int x, int y, int width, int height) = 0;
    virtual void RunJS(WebView view, const std::wstring& script) = 0;
    virtual JsValue JsArg(JsExecState es, int index) = 0;
    virtual int JsArgCount(JsExecState es) = 0;
    virtual std::wstring JsToTempStringW(JsExecState es, JsValue value) = 0;
};

// What the receiver (MiniblinkCallBack) raises, as the client handles it. Handlers must not throw.
class EngineEvents {
public:
    virtual ~EngineEvents() = default;
    virtual void OnJsNativeFunction(JsExecState es, std::int32_t param) = 0;
    virtual void OnCreateView(WebView view, std::int32_t param, std::int32_t navigation_type,
                              const std::wstring& url) = 0;
    virtual void OnDownload(WebView view, std::int32_t param, const std::wstring& url) = 0;
    virtual void OnLoadUrlBegin(WebView view, std::int32_t param, const std::wstring& url, std::int32_t job) = 0;
};

// The receiver's callback addresses and the one result the client sets.
class CallbackReceiver {
public:
    virtual ~CallbackReceiver() = default;
    virtual std::int32_t NativeFunctionAddress() = 0;
    virtual std::int32_t LoadUrlBeginAddress() = 0;
    virtual std::int32_t CreateViewAddress() = 0;
    virtual std::int32_t DownloadAddress() = 0;
    virtual void SetReturnCreateView(WebView view) = 0;
    // Starts delivering the receiver's events to `events` (which outlives the receiver's use).
    virtual void Advise(EngineEvents* events) = 0;
};

}  // namespace vantorix::client
