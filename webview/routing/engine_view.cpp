#include "webview/routing/engine_view.h"

#include "webview/bridge/universal_dll_calls.h"
#include "webview/bridge/variant.h"

namespace velview::routing {

std::uint32_t ViewOfCall(std::uint32_t es) {
    static cUniversalDLLCalls bridge;  // the dispatcher's own, kept until the process ends
    Variant arg = Variant::Int32(static_cast<std::int32_t>(es));
    Variant view = bridge.CallFunction_DLL(L"node.dll", L"jsGetWebView", kStringAsIs, VT_I4, 1, arg.get(), 1);
    return static_cast<std::uint32_t>(view.AsInt32());
}

}  // namespace velview::routing
