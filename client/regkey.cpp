#include "client/regkey.h"

namespace vantorix::client::regkey {
namespace {
// While the key stays down after a press, its auto-repeats are not presses. MOD_NOREPEAT says so to the
// system; where the system ignores that flag (older systems, Wine), a short poll of the key tells when it
// is let go, and WM_HOTKEY until then, with the key still down, is a repeat.
constexpr UINT_PTR kReleasePollTimer = 0x5254;
constexpr UINT kReleasePollMs = 30;

struct HotKeyState {
    HWND window = nullptr;
    bool held = false;
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
    // Held down, the key would toggle sampling on every auto-repeat: one press, one toggle. The message
    // reports the modifiers without MOD_NOREPEAT, so the kept modifiers stay as given.
    RegisterHotKey(window, id, modifiers | MOD_NOREPEAT, virtual_key);
}

void UnregisterPickerHotKey(HWND window) {
    if (!g_state.window || window != g_state.window) return;
    KillTimer(window, kReleasePollTimer);
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_state.previous));
    UnregisterHotKey(window, g_state.id);
    g_state = HotKeyState{};
}

LRESULT CALLBACK HotKeyProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    WNDPROC previous = g_state.previous;
    if (message == WM_TIMER && wparam == kReleasePollTimer && window == g_state.window) {
        if ((GetAsyncKeyState(static_cast<int>(g_state.key)) & 0x8000) == 0) {
            g_state.held = false;
            KillTimer(window, kReleasePollTimer);
        }
        return 0;
    }
    if (message == WM_HOTKEY && static_cast<int>(wparam) == g_state.id && LOWORD(lparam) == g_state.modifiers &&
        HIWORD(lparam) == g_state.key && g_state.action && window == g_state.window) {
        // An auto-repeat of the press already answered (the key still down since) does nothing more.
        const bool key_down = (GetAsyncKeyState(static_cast<int>(g_state.key)) & 0x8000) != 0;
        if (!(g_state.held && key_down)) {
            g_state.held = true;
            SetTimer(window, kReleasePollTimer, kReleasePollMs, nullptr);
            try {
                g_state.action();
            } catch (...) {
            }
        }
    }
    if (!previous) return DefWindowProcW(window, message, wparam, lparam);
    return CallWindowProcW(previous, window, message, wparam, lparam);
}

}  // namespace vantorix::client::regkey
