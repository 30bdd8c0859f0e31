#include "webview/routing/js_call_routing.h"

#include <string>
#include <unordered_map>

#include "webview/com/library_log.h"
#include "webview/com/module.h"
#include "webview/com/owner_thread.h"
#include "webview/routing/engine_view.h"

namespace velview::routing {
namespace {

// The process-wide state. Entries are added per web view; an owner that goes away removes its own.
struct RoutingState {
    bool jsCallBound = false;
    std::unordered_map<std::wstring, std::uint32_t> routes;
};

RoutingState& State() {
    static RoutingState state;  // lives until the process ends, like the engine binding it describes
    return state;
}

}  // namespace

bool JsCallBound() { return State().jsCallBound; }

bool ClaimJsCallBinding() {
    RoutingState& state = State();
    if (state.jsCallBound) return false;
    state.jsCallBound = true;
    return true;
}

std::wstring JsCallKey(std::uint32_t webView) {
    return std::to_wstring(static_cast<std::int32_t>(webView)) + L"-JsCallAddress";
}

void SetJsCallRoute(std::uint32_t webView, std::uint32_t handlerEntry) {
    State().routes[JsCallKey(webView)] = handlerEntry;
}

bool RemoveJsCallRoute(std::uint32_t webView, std::uint32_t handlerEntry) {
    auto& routes = State().routes;
    auto it = routes.find(JsCallKey(webView));
    if (it == routes.end() || it->second != handlerEntry) return false;
    routes.erase(it);
    return true;
}

std::uint32_t JsCallRoute(std::uint32_t webView) {
    const auto& routes = State().routes;
    auto it = routes.find(JsCallKey(webView));
    return it == routes.end() ? 0 : it->second;
}

std::uint32_t JsCallDispatchAddress() {
    module::PinUntilProcessEnd();
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&JsCallDispatch));
}

// Bound to the page's "jsCall": the engine's boundary, so nothing thrown here leaves it (what is, is
// recorded). A route is always the script-call entry of one of the library's own owners (SetJsCallRoute is
// the only writer): it is called directly, with no fault guard, so a fault inside the library's handler is
// not hidden and the handler's own cleanup is never skipped; the host's code that the handler reaches (its
// event sink) is guarded where it is called.
std::uint64_t __stdcall JsCallDispatch(std::uint32_t es, std::uint32_t param) {
    // The routing table and the dispatcher's own engine table belong to the engine's thread; a call from
    // another is the engine's fault and is dropped (the entry it would reach refuses it too).
    const DWORD engineThread = module::EngineThread();
    if (engineThread != 0 && engineThread != CurrentThreadId()) return 0;
    try {
        const std::uint32_t handler = JsCallRoute(ViewOfCall(es));
        if (handler == 0) return 0;  // a view without an entry: the call is dropped
        using Entry = std::uint32_t(__stdcall*)(std::uint32_t, std::uint32_t);
        reinterpret_cast<Entry>(static_cast<std::uintptr_t>(handler))(es, param);  // its result is not used
    } catch (...) {
        Record(L"JsCallDispatch", L"a page's jsCall could not be passed on; the page gets 0");
    }
    return 0;
}

}  // namespace velview::routing
