#include "client/regkey.h"

namespace vantorix::client::regkey {
namespace {
struct HotKeyState {
    HWND window = nullptr;
    WNDPROC previous = nullptr;
    int id = 0;
    UINT modifiers = 0;
    UINT key = 0;
    std::function<void()> action;
} g_state;
}  // namespace

void RegisterPickerHotKey(HWND window, UINT modifiers, UINT virtual_key, int id, std::function<void()> action) {
    if (g_state.window) UnregisterPickerHotKey(g_state.window);
    g_state.window = window;
    g_state.previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&HotKeyProc));
    g_state.id = id;
    g_state.modifiers = modifiers;
    g_state.key = virtual_key;
    g_state.action = std::move(action);
    RegisterHotKey(window, id, modifiers, virtual_key);
}

void UnregisterPickerHotKey(HWND window) {
    if (!g_state.window || window != g_state.window) return;
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_state.previous));
    UnregisterHotKey(window, g_state.id);
    g_state = HotKeyState{};
}

LRESULT CALLBACK HotKeyProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    WNDPROC previous = g_state.previous;
    if (message == WM_HOTKEY && static_cast<int>(wparam) == g_state.id && LOWORD(lparam) == g_state.modifiers &&
        HIWORD(lparam) == g_state.key && g_state.action) {
        try {
            g_state.action();
        } catch (...) {
        }
    }
    if (!previous) return DefWindowProcW(window, message, wparam, lparam);
    return CallWindowProcW(previous, window, message, wparam, lparam);
}

}  // namespace vantorix::client::regkey
