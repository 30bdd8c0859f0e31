#include "client/page_commands.h"

#include <windows.h>

namespace vantorix::client {
namespace {

struct PageCommand {
    const wchar_t* name;
    void (*run)(const PageCall&, PageCommandTarget&);
};

// Checked in this order; the first match runs.
const PageCommand kCommands[] = {
    {L"maximize", [](const PageCall&, PageCommandTarget& t) { t.Maximize(); }},
    {L"minimize", [](const PageCall&, PageCommandTarget& t) { t.Minimize(); }},
    // Two arguments: the zone is the group ("btn"), which names no zone, so only the capture is released. A
    // page that wants a real resize passes the zone as a third argument.
    {L"mousedown", [](const PageCall& c, PageCommandTarget& t) { t.MouseDown(c.zone ? *c.zone : c.group); }},
    {L"move", [](const PageCall&, PageCommandTarget& t) { t.Move(); }},
    {L"close", [](const PageCall&, PageCommandTarget& t) { t.Close(); }},
    {L"service_btn", [](const PageCall&, PageCommandTarget& t) { t.OpenServiceChat(); }},
    {L"windowdc", [](const PageCall&, PageCommandTarget& t) { t.ShowColourPicker(); }},
    {L"updateme", [](const PageCall&, PageCommandTarget& t) { t.UpdateMe(); }},
    {L"qgroup", [](const PageCall&, PageCommandTarget& t) { t.OpenUserGroup(); }},
    {L"shrinkmize", [](const PageCall&, PageCommandTarget& t) { t.HideToTray(); }},
};

std::wstring Lower(std::wstring text) {
    if (!text.empty()) CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

}  // namespace

std::optional<PageCall> ReadPageCall(EngineApi& engine, JsExecState es) {
    PageCall call;
    call.group = engine.JsToTempStringW(es, engine.JsArg(es, 0));
    if (call.group != kPageGroup) return std::nullopt;
    const int count = engine.JsArgCount(es);
    if (count < 2) return std::nullopt;  // no command: the call does nothing
    call.command = Lower(engine.JsToTempStringW(es, engine.JsArg(es, 1)));
    if (count >= 3) call.zone = engine.JsToTempStringW(es, engine.JsArg(es, 2));
    return call;
}

bool RunPageCommand(const PageCall& call, PageCommandTarget& target) {
    for (const auto& command : kCommands) {
        if (call.command == command.name) {
            command.run(call, target);
            return true;
        }
    }
    return false;
}

void HandlePageCall(EngineApi& engine, JsExecState es, PageCommandTarget& target) {
    if (auto call = ReadPageCall(engine, es)) RunPageCommand(*call, target);
}

}  // namespace vantorix::client
