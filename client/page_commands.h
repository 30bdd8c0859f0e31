#pragma once
// The page command bridge: the skin page calls onJsCall("btn", command[, zone]) and the client carries the
// command out. The group is compared case-sensitively, the command after lower-casing; unknown commands and
// calls without a command do nothing. No command sets a reply for the script.
#include <optional>
#include <string>

#include "client/engine.h"

namespace vantorix::client {

// What the commands act on (the main window).
class PageCommandTarget {
public:
    virtual ~PageCommandTarget() = default;
    virtual void Maximize() = 0;                              // "maximize"
    virtual void Minimize() = 0;                              // "minimize"
    virtual void MouseDown(const std::wstring& zone) = 0;     // "mousedown"
    virtual void Move() = 0;                                  // "move"
    virtual void Close() = 0;                                 // "close"
    virtual void OpenServiceChat() = 0;                       // "service_btn"
    virtual void ShowColourPicker() = 0;                      // "windowdc"
    virtual void UpdateMe() = 0;                              // "updateme"
    virtual void OpenUserGroup() = 0;                         // "qgroup"
    virtual void HideToTray() = 0;                            // "shrinkmize"
};

// One page call as read from the engine.
struct PageCall {
    std::wstring group;
    std::wstring command;                // lower-cased
    std::optional<std::wstring> zone;    // the optional third argument
};

inline constexpr const wchar_t* kPageGroup = L"btn";

// Reads the call's arguments through the engine; nothing when the group is not "btn".
std::optional<PageCall> ReadPageCall(EngineApi& engine, JsExecState es);

// Runs the first command of the table that matches; returns false when none does.
bool RunPageCommand(const PageCall& call, PageCommandTarget& target);

// Both steps: the handler of the receiver's native-function event.
void HandlePageCall(EngineApi& engine, JsExecState es, PageCommandTarget& target);

}  // namespace vantorix::client
