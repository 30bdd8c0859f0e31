#pragma once
// overme: the client's one way out. Removes the tray icon, closes the client's windows (main window, menu
// form, colour picker, in that order) and ends the process at once. Every exit path runs it.
#include <functional>

namespace vantorix::client::overme {

struct Parts {
    std::function<void()> hide_tray;
    std::function<void()> close_main_form;
    std::function<void()> close_menu_form;
    std::function<void()> close_picker;
};

// Registers what the routine closes; parts not registered (yet) are skipped.
void SetParts(Parts parts);

// True while the routine runs (a window closed by it must not start it again).
bool InProgress();

[[noreturn]] void Shutdown();

}  // namespace vantorix::client::overme
