#include "client/regkey.h"

#include "win/window_subclass.h"

namespace vantorix::client::regkey {
namespace {
// While the key stays down after a press, its auto-repeats are not presses. MOD_NOREPEAT says so to the
// system; where the system ignores that flag (older systems, Wine), a short poll of the key tells when it
// is let go, and WM_HOTKEY until then, with the key still down, is a repeat.
constexpr UINT_PTR kReleasePollTimer = 0x5254;
constexpr UINT kReleasePollMs = 30;

// Module-wide: the one window whose hot key is registered, and what it was registered with.
struct HotKeyState {
    HWND window = nullptr;
    bool held = false;
    int id = 0;
    UINT modifiers = 0;
    UINT key = 0;
    std::function<void()> action;
} g_state;

win::WindowSubclass& HotKeySubclass() {
    static win::WindowSubclass subclass(L"Regkey.HotKeyProc", &HotKeyProc);
    return subclass;
}
}  // namespace

void RegisterPickerHotKey(HWND window, UINT modifiers, UINT virtual_key, int id, std::function<void()> action) {
    if (g_state.window) UnregisterPickerHotKey(g_state.window);
    g_state.window = window;
    HotKeySubclass().Install(window);
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
    HotKeySubclass().Remove();
    UnregisterHotKey(window, g_state.id);
    g_state = HotKeyState{};
}

std::optional<LRESULT> HotKeyProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (window != g_state.window) return std::nullopt;
    if (message == WM_TIMER && wparam == kReleasePollTimer) {
        if ((GetAsyncKeyState(static_cast<int>(g_state.key)) & 0x8000) == 0) {
            g_state.held = false;
            KillTimer(window, kReleasePollTimer);
        }
        return 0;
    }
    if (message == WM_HOTKEY && static_cast<int>(wparam) == g_state.id && LOWORD(lparam) == g_state.modifiers &&
        HIWORD(lparam) == g_state.key && g_state.action) {
        // An auto-repeat of the press already answered (the key still down since) does nothing more.
        const bool key_down = (GetAsyncKeyState(static_cast<int>(g_state.key)) & 0x8000) != 0;
        if (!(g_state.held && key_down)) {
            g_state.held = true;
            SetTimer(window, kReleasePollTimer, kReleasePollMs, nullptr);
            g_state.action();
        }
    }
    return std::nullopt;  // every message, the hot key's too, goes on to the window's own procedure
}

}  // namespace vantorix::client::regkey
