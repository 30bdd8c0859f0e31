#include "engine-standin/engine_state.h"

namespace standin {
namespace {

// Handle ranges: distinct per kind so that a handle of the wrong kind is not mistaken for another.
constexpr int kStringBase = 0x57000000;
constexpr int kExecStateBase = 0x0E500000;
constexpr int kViewBase = 0x0B1E0000;
constexpr int kJobBase = 0x00B00000;
constexpr std::uint32_t kValueTag = 0x7A5E0000u;

std::uint32_t ValueCheck(std::uint32_t low) { return kValueTag | ((low * 0x9E37u) & 0xFFFFu); }

}  // namespace

Engine& Engine::Get() {
    static Engine engine;
    return engine;
}

Engine::Engine() {
    JsValue undefined;
    undefined_ = NewValue(undefined);
    JsValue null;
    null.type = JsType::Null;
    null_ = NewValue(null);
}

int Engine::NewString(std::wstring text) {
    int handle = kStringBase + 8 * ++next_string_;
    strings_[handle].text = std::move(text);
    return handle;
}

EngineString* Engine::FindString(int handle) {
    auto it = strings_.find(handle);
    return it == strings_.end() ? nullptr : &it->second;
}

std::uint64_t Engine::NewValue(JsValue value) {
    values_.push_back(std::move(value));
    return ValueFromLow(static_cast<std::uint32_t>(values_.size()));
}

std::uint64_t Engine::ValueFromLow(std::uint32_t low) {
    return (static_cast<std::uint64_t>(ValueCheck(low)) << 32) | low;
}

JsValue* Engine::FindValue(std::uint64_t handle) {
    std::uint32_t low = static_cast<std::uint32_t>(handle);
    std::uint32_t high = static_cast<std::uint32_t>(handle >> 32);
    if (low == 0 || low > values_.size() || high != ValueCheck(low)) return nullptr;
    return &values_[low - 1];
}

std::uint64_t Engine::Number(double n) {
    JsValue v;
    v.type = JsType::Number;
    v.number = n;
    return NewValue(std::move(v));
}

std::uint64_t Engine::String(std::wstring text) {
    JsValue v;
    v.type = JsType::String;
    v.text = std::move(text);
    return NewValue(std::move(v));
}

std::uint64_t Engine::Boolean(bool b) {
    JsValue v;
    v.type = JsType::Boolean;
    v.number = b ? 1 : 0;
    return NewValue(std::move(v));
}

int Engine::NewExecState(int view, std::vector<std::uint64_t> args) {
    int es = kExecStateBase + 4 * ++next_es_;
    exec_states_[es] = ExecState{view, std::move(args)};
    return es;
}

ExecState* Engine::FindExecState(int es) {
    auto it = exec_states_.find(es);
    return it == exec_states_.end() ? nullptr : &it->second;
}

int Engine::GlobalExecState(int view) {
    View* v = FindView(view);
    if (!v) return 0;
    if (!v->global_es) v->global_es = NewExecState(view, {});
    return v->global_es;
}

View& Engine::NewView() {
    views_.push_back(std::make_unique<View>());
    View& v = *views_.back();
    v.handle = kViewBase + 0x10 * static_cast<int>(views_.size());
    return v;
}

View* Engine::FindView(int handle) {
    for (auto& v : views_)
        if (v->handle == handle && v->alive) return v.get();
    return nullptr;
}

View* Engine::ViewOfWindow(HWND window) {
    for (auto& v : views_)
        if (v->window == window && v->alive) return v.get();
    return nullptr;
}

std::vector<View*> Engine::LiveViews() {
    std::vector<View*> out;
    for (auto& v : views_)
        if (v->alive) out.push_back(v.get());
    return out;
}

int Engine::NewJob(int view, std::wstring url) {
    int handle = kJobBase + 4 * ++next_job_;
    jobs_[handle] = Job{view, std::move(url)};
    return handle;
}

Job* Engine::FindJob(int handle) {
    auto it = jobs_.find(handle);
    return it == jobs_.end() ? nullptr : &it->second;
}

}  // namespace standin
