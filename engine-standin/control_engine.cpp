// The control surface's page, view and firing functions (declared in standin_control.h).
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "engine-standin/call_log.h"
#include "engine-standin/callbacks.h"
#include "engine-standin/engine_state.h"
#include "engine-standin/standin_control.h"
#include "engine-standin/text_codec.h"
#include "engine-standin/views.h"

using standin::CopyOut;

namespace {

using standin::Engine;
using standin::View;

std::wstring W(const std::u16string& u) { return std::wstring(u.begin(), u.end()); }

}  // namespace

extern "C" {

int STANDIN_CALL standinCallBound(const char* name, int webView, const StandinJsArg* args, int argCount,
                                  unsigned long long* result) {
    try {
        if (!name || argCount < 0 || (argCount > 0 && !args)) return 0;
        Engine& e = Engine::Get();
        std::vector<std::uint64_t> values;
        for (int i = 0; i < argCount; ++i) {
            switch (args[i].type) {
                case STANDIN_JS_STRING: values.push_back(e.String(args[i].text ? args[i].text : L"")); break;
                case STANDIN_JS_INT: values.push_back(e.Number(args[i].number)); break;
                default: values.push_back(e.Undefined()); break;
            }
        }
        std::uint64_t r = 0;
        bool called = standin::CallBinding(name, webView, values, r);
        if (result) *result = called ? r : 0;
        return called ? 1 : 0;
    } catch (...) {
        standin::RecordFailure("standinCallBound");
        return 0;
    }
}

int STANDIN_CALL standinCallBoundStrings(const char* name, int webView, const wchar_t* const* args, int argCount,
                                         unsigned long long* result) {
    if (argCount < 0 || (argCount > 0 && !args)) return 0;
    std::vector<StandinJsArg> typed;
    for (int i = 0; i < argCount; ++i) typed.push_back(StandinJsArg{STANDIN_JS_STRING, 0, args[i]});
    return standinCallBound(name, webView, typed.data(), argCount, result);
}

int STANDIN_CALL standinFire(int webView, const char* registration, StandinFireArgs* args, unsigned int* callbackResult) {
    try {
        if (!registration) return 0;
        StandinFireArgs empty{};
        StandinFireArgs& a = args ? *args : empty;
        std::uint32_t result = 0;
        if (!standin::Fire(webView, registration, a, result)) return 0;
        if (callbackResult) *callbackResult = result;
        // A page's new window opens in the view the host hands back, when that is one of ours.
        if (std::strcmp(registration, "wkeOnCreateView") == 0 && a.url)
            if (View* target = Engine::Get().FindView(static_cast<int>(result))) standin::LoadUrl(*target, a.url);
        return 1;
    } catch (...) {
        standin::RecordFailure("standinFire");
        return 0;
    }
}

int STANDIN_CALL standinRegistration(int webView, const char* registration, unsigned int* callback, unsigned int* param) {
    if (!registration) return 0;
    auto& all = Engine::Get().RegistrationsOf(webView);
    auto it = all.find(registration);
    if (it == all.end()) return 0;
    if (callback) *callback = it->second.callback;
    if (param) *param = it->second.param;
    return 1;
}

int STANDIN_CALL standinJobHooked(int job) {
    standin::Job* j = Engine::Get().FindJob(job);
    return j && j->hooked ? 1 : 0;
}

int STANDIN_CALL standinViewCount(void) { return static_cast<int>(Engine::Get().LiveViews().size()); }

int STANDIN_CALL standinViewAt(int index) {
    auto views = Engine::Get().LiveViews();
    return index >= 0 && index < static_cast<int>(views.size()) ? views[index]->handle : 0;
}

int STANDIN_CALL standinViewWindow(int webView) {
    View* v = Engine::Get().FindView(webView);
    return v ? static_cast<int>(reinterpret_cast<std::uintptr_t>(v->window)) : 0;
}

int STANDIN_CALL standinViewKeys(int webView, unsigned int* keys, int max) {
    View* v = Engine::Get().FindView(webView);
    if (!v) return -1;
    const int count = static_cast<int>(v->keys_down.size());
    for (int i = 0; keys && i < count && i < max; ++i) keys[i] = v->keys_down[static_cast<std::size_t>(i)];
    return count;
}

int STANDIN_CALL standinViewUrl(int webView, wchar_t* buf, int bufSize) {
    View* v = Engine::Get().FindView(webView);
    return v ? CopyOut(v->url, buf, bufSize) : -1;
}

int STANDIN_CALL standinViewTitle(int webView, wchar_t* buf, int bufSize) {
    View* v = Engine::Get().FindView(webView);
    return v ? CopyOut(v->title, buf, bufSize) : -1;
}

int STANDIN_CALL standinButtonCount(int webView) {
    View* v = Engine::Get().FindView(webView);
    return v ? static_cast<int>(v->buttons.size()) : 0;
}

int STANDIN_CALL standinButtonLabel(int webView, int index, wchar_t* buf, int bufSize) {
    View* v = Engine::Get().FindView(webView);
    if (!v || index < 0 || index >= static_cast<int>(v->buttons.size())) return -1;
    return CopyOut(W(v->buttons[index].label), buf, bufSize);
}

int STANDIN_CALL standinButtonCall(int webView, int index, char* nameBuf, int nameSize, wchar_t* argsBuf, int argsSize) {
    View* v = Engine::Get().FindView(webView);
    if (!v || index < 0 || index >= static_cast<int>(v->buttons.size())) return -1;
    const auto& call = v->buttons[index];
    if (nameBuf && nameSize > 0) {
        int n = std::min<int>(static_cast<int>(call.function.size()), nameSize - 1);
        std::memcpy(nameBuf, call.function.data(), n);
        nameBuf[n] = 0;
    }
    std::wstring joined;
    for (std::size_t i = 0; i < call.args.size(); ++i) {
        if (i) joined += L'\t';
        joined += W(call.args[i].text);
    }
    CopyOut(joined, argsBuf, argsSize);
    return static_cast<int>(call.args.size());
}

int STANDIN_CALL standinClickButton(int webView, const wchar_t* label) {
    try {
        View* v = Engine::Get().FindView(webView);
        if (!v || !label) return 0;
        for (std::size_t i = 0; i < v->buttons.size(); ++i)
            if (W(v->buttons[i].label) == label) return standin::ClickButton(*v, static_cast<int>(i)) ? 1 : 0;
        return 0;
    } catch (...) {
        standin::RecordFailure("standinClickButton");
        return 0;
    }
}

int STANDIN_CALL standinAlerts(int webView, int index, wchar_t* buf, int bufSize) {
    View* v = Engine::Get().FindView(webView);
    if (!v) return 0;
    if (index >= 0 && index < static_cast<int>(v->alerts.size())) CopyOut(v->alerts[index], buf, bufSize);
    return static_cast<int>(v->alerts.size());
}

}  // extern "C"
