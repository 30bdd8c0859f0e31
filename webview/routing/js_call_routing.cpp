#include "webview/routing/js_call_routing.h"

#include <string>
#include <unordered_map>

#include "webview/com/module.h"
#include "webview/routing/engine_view.h"
#include "webview/bridge/universal_dll_calls.h"

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

// Bound to the page's "jsCall": the engine's boundary, so nothing thrown here leaves it.
std::uint64_t __stdcall JsCallDispatch(std::uint32_t es, std::uint32_t param) {
    try {
        const std::uint32_t handler = JsCallRoute(ViewOfCall(es));
        if (handler == 0) return 0;  // a view without an entry: the call is dropped
        const std::int32_t block[2] = {static_cast<std::int32_t>(es), static_cast<std::int32_t>(param)};
        // The handler's result is not used; a faulting handler is caught by the guarded call.
        cUniversalDLLCalls::CallStdcall(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(handler)),
                                        block, 2);
    } catch (...) {
    }
    return 0;
}

}  // namespace velview::routing
