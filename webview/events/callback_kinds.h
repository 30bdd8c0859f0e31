#pragma once
// The 27 kinds of engine callback the receiver turns into events, in slot order: one row per kind with its
// engine arguments, how each is read, and what the engine gets back. The receiver's handlers, its stub
// table and the tests all walk this table; the type library (idl/MiniblinkCallBack.idl) lists the same
// members, and a test checks the two against each other.
#include <windows.h>
#include <oaidl.h>

#include <array>
#include <cstdint>

namespace velview::events {

// How one engine argument becomes an event parameter.
enum class Arg : std::uint8_t {
    Int,             // 32-bit integer passed through (handles, addresses, counts, enumeration values)
    Url,             // zero-terminated text in the system code page at the address (empty for 0)
    EngineText,      // engine string object, read with wkeGetStringW
    PlatformText,    // address of a length-prefixed platform string (BSTR), copied (empty for 0)
    PromptResult,    // engine string object the host's text is written back into; the event gets "" by ref
    MemBuf,          // records: their bytes copied from the address into a fresh record, passed by ref
    Rect,
    WindowFeatures,
    MediaLoadInfo,
};

// What the engine gets back.
enum class Result : std::uint8_t {
    None,         // 0
    Bool,         // the Return_ boolean as one byte: 1 for true, 0 for false
    ViewHandle,   // the Return_ 32-bit view handle
    ScriptValue,  // the Return_ 64-bit script value, whole (EDX:EAX)
};

inline constexpr int kKindCount = 27;
inline constexpr int kMaxArgs = 7;
inline constexpr DISPID kFirstReturnId = 0x40030001;
inline constexpr DISPID kFirstStubId = 0x4003000b;  // the stub property of slot 26; slot 0 is 0x40030025

struct CallbackKind {
    const wchar_t* name;  // stub-address property and event
    int argCount;         // 32-bit argument words of the engine's call
    std::array<Arg, kMaxArgs> args;
    std::array<const wchar_t*, kMaxArgs> paramNames;  // the event's parameter names
    Result result;
    DISPID returnId;  // the Return_ property for kinds with a result, else 0
};

using A = Arg;
// clang-format off
inline constexpr std::array<CallbackKind, kKindCount> kCallbackKinds = {{
    /* 0 */ {L"wkeWindowDestroyCallback", 2, {A::Int, A::Int}, {L"webWindow", L"param"}, Result::None, 0},
    /* 1 */ {L"wkeWindowClosingCallback", 2, {A::Int, A::Int}, {L"webWindow", L"param"}, Result::Bool, 0x4003000a},
    /* 2 */ {L"wkeWillMediaLoadCallback", 4, {A::Int, A::Int, A::Url, A::MediaLoadInfo},
             {L"webView", L"param", L"url", L"info"}, Result::None, 0},
    /* 3 */ {L"wkeWillReleaseScriptContextCallback", 5, {A::Int, A::Int, A::Int, A::Int, A::Int},
             {L"webView", L"param", L"frameId", L"context", L"worldId"}, Result::None, 0},
    /* 4 */ {L"wkeDidCreateScriptContextCallback", 6, {A::Int, A::Int, A::Int, A::Int, A::Int, A::Int},
             {L"webView", L"param", L"frameId", L"context", L"extensionGroup", L"worldId"}, Result::None, 0},
    /* 5 */ {L"wkeLoadUrlEndCallback", 6, {A::Int, A::Int, A::Url, A::Int, A::Int, A::Int},
             {L"webView", L"param", L"url", L"job", L"buf", L"tlen"}, Result::None, 0},
    /* 6 */ {L"wkeLoadUrlBeginCallback", 4, {A::Int, A::Int, A::Url, A::Int},
             {L"webView", L"param", L"url", L"job"}, Result::Bool, 0x40030009},
    /* 7 */ {L"wkeConsoleCallback", 7, {A::Int, A::Int, A::Int, A::EngineText, A::EngineText, A::Int, A::EngineText},
             {L"webView", L"param", L"level", L"message", L"sourceName", L"sourceLine", L"stackTrace"}, Result::None, 0},
    /* 8 */ {L"wkeDownloadCallback", 3, {A::Int, A::Int, A::Url}, {L"webView", L"param", L"url"}, Result::Bool, 0x40030008},
    /* 9 */ {L"wkeDocumentReady2Callback", 3, {A::Int, A::Int, A::Int}, {L"webView", L"param", L"frameId"}, Result::None, 0},
    /*10 */ {L"wkeDocumentReadyCallback", 2, {A::Int, A::Int}, {L"webView", L"param"}, Result::None, 0},
    /*11 */ {L"wkeCreateViewCallback", 5, {A::Int, A::Int, A::Int, A::Url, A::WindowFeatures},
             {L"webView", L"param", L"navigationType", L"url", L"windowFeatures"}, Result::ViewHandle, 0x40030007},
    /*12 */ {L"wkeNavigationCallback", 4, {A::Int, A::Int, A::Int, A::Url},
             {L"webView", L"param", L"navigationType", L"url"}, Result::Bool, 0x40030006},
    /*13 */ {L"wkePromptBoxCallback", 5, {A::Int, A::Int, A::EngineText, A::EngineText, A::PromptResult},
             {L"webView", L"param", L"Msg", L"defaultResult", L"result"}, Result::Bool, 0x40030005},
    /*14 */ {L"wkeConfirmBoxCallback", 3, {A::Int, A::Int, A::EngineText}, {L"webView", L"param", L"Msg"}, Result::Bool, 0x40030004},
    /*15 */ {L"wkeAlertBoxCallback", 3, {A::Int, A::Int, A::EngineText}, {L"webView", L"param", L"Msg"}, Result::None, 0},
    /*16 */ {L"wkePaintBitUpdatedCallback", 6, {A::Int, A::Int, A::Int, A::Rect, A::Int, A::Int},
             {L"webView", L"param", L"buffer", L"r", L"width", L"height"}, Result::None, 0},
    /*17 */ {L"wkePaintUpdatedCallback", 7, {A::Int, A::Int, A::Int, A::Int, A::Int, A::Int, A::Int},
             {L"webView", L"param", L"hdc", L"x", L"y", L"cx", L"cy"}, Result::None, 0},
    /*18 */ {L"wkeURLChangedCallback2", 4, {A::Int, A::Int, A::Int, A::Url}, {L"webView", L"param", L"frameId", L"url"}, Result::None, 0},
    /*19 */ {L"wkeURLChangedCallback", 3, {A::Int, A::PlatformText, A::Url}, {L"webView", L"param", L"url"}, Result::None, 0},
    /*20 */ {L"wkeTitleChangedCallback", 3, {A::Int, A::Int, A::EngineText}, {L"webView", L"param", L"title"}, Result::None, 0},
    /*21 */ {L"wkeJsNativeFunction", 2, {A::Int, A::Int}, {L"es", L"param"}, Result::ScriptValue, 0x40030003},
    /*22 */ {L"jsNativeFunction", 1, {A::Int}, {L"es"}, Result::ScriptValue, 0x40030002},
    /*23 */ {L"wkeOnNetGetFavicon", 4, {A::Int, A::Int, A::Url, A::MemBuf}, {L"webView", L"param", L"url", L"buf"}, Result::None, 0},
    /*24 */ {L"wkeOnCallUiThread", 2, {A::Int, A::Int}, {L"webView", L"paramOnInThread"}, Result::None, 0},
    /*25 */ {L"wkeCallUiThread", 3, {A::Int, A::Int, A::Int}, {L"webView", L"func", L"param"}, Result::None, 0},
    /*26 */ {L"wkeNetResponseCallback", 4, {A::Int, A::Int, A::Url, A::Int}, {L"webView", L"param", L"url", L"job"}, Result::Bool, 0x40030001},
}};
// clang-format on

// Event ids run 1..27 from slot 26 down to slot 0; stub property ids 0x4003000b..0x40030025 the same way.
constexpr DISPID EventIdOf(int slot) { return kKindCount - slot; }
constexpr DISPID StubIdOf(int slot) { return kFirstStubId + (kKindCount - 1 - slot); }
// cb_Callback's ordinal for a slot: the handlers are the receiver's last 27 operations in reverse slot order.
constexpr int OrdinalOf(int slot) { return slot + 1; }

}  // namespace velview::events
