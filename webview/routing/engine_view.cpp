#include "webview/routing/engine_view.h"

#include "webview/api/miniblink_api.h"

namespace velview::routing {

std::uint32_t ViewOfCall(std::uint32_t es) {
    // The dispatcher's own engine table, made on first use (with the engine file check) and kept until the
    // process ends, like the binding of "jsCall" that leads here.
    static _MiniblinkAPI* engine = [] {
        _MiniblinkAPI* made = nullptr;
        api::CreateMiniblinkAPI(&made);
        return made;
    }();
    if (!engine) return 0;
    long view = 0;
    engine->jsGetWebView(static_cast<long>(es), &view);
    return static_cast<std::uint32_t>(view);
}

}  // namespace velview::routing
