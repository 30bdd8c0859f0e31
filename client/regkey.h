#pragma once
// Regkey: the colour picker's global hot key, received through a replaced window procedure. One window at a
// time; the procedure is put back and the key unregistered when the window closes.
#include <windows.h>

#include <functional>

namespace vantorix::client::regkey {

// Keeps the window's procedure and installs HotKeyProc, keeps the key, registers it globally. A key taken
// by another program is not reported (the picker's button still works).
void RegisterPickerHotKey(HWND window, UINT modifiers, UINT virtual_key, int id, std::function<void()> action);

// Puts the previous procedure back and unregisters the key. Does nothing for a window not registered.
void UnregisterPickerHotKey(HWND window);

// Runs the action for the kept key, then passes every message unchanged to the previous procedure.
LRESULT CALLBACK HotKeyProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace vantorix::client::regkey
