#pragma once
// Regkey: the colour picker's global hot key, received through a subclass of the window's procedure. One
// window at a time; the subclass is taken out and the key unregistered when the window closes.
#include <windows.h>

#include <functional>
#include <optional>

namespace vantorix::client::regkey {

// Puts HotKeyProc in front of the window's procedure, keeps the key, registers it globally. A key taken
// by another program is not reported (the picker's button still works).
void RegisterPickerHotKey(HWND window, UINT modifiers, UINT virtual_key, int id, std::function<void()> action);

// Takes HotKeyProc out again and unregisters the key. Does nothing for a window not registered.
void UnregisterPickerHotKey(HWND window);

// Runs the action for the kept key, then passes every message on unchanged (nullopt) to the window's own
// procedure; only its own release poll ends here.
std::optional<LRESULT> HotKeyProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace vantorix::client::regkey
