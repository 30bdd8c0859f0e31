// The picker's hot key module: the subclassed window procedure, which key presses it answers, and the
// procedure and key given back at close.
#include <gtest/gtest.h>

#include "client/regkey.h"
#include "test_support.h"

using namespace vantorix::client;
using namespace client_test;

namespace {
UINT g_last_message;
LRESULT CALLBACK OwnProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    g_last_message = message;
    if (message == WM_APP + 3) return 0x77;
    return DefWindowProcW(window, message, wparam, lparam);
}
}  // namespace

TEST(Regkey, AnswersOnlyItsOwnKeyPassesEveryMessageOnAndPutsTheProcedureBack) {
    PlainWindow w(10, 10, 50, 50, RGB(0, 0, 0), false);
    SetWindowLongPtrW(w.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&OwnProc));
    int toggles = 0;
    regkey::RegisterPickerHotKey(w.get(), MOD_ALT | MOD_CONTROL, 'D', 1, [&] { ++toggles; });
    EXPECT_FALSE(RegisterHotKey(nullptr, 9, MOD_ALT | MOD_CONTROL, 'D')) << "the key is taken while registered";

    struct Case { WPARAM id; LPARAM keys; int toggles; const char* what; } cases[] = {
        {1, MAKELPARAM(MOD_ALT | MOD_CONTROL, 'D'), 1, "its key"},
        {2, MAKELPARAM(MOD_ALT | MOD_CONTROL, 'D'), 0, "another identifier"},
        {1, MAKELPARAM(MOD_CONTROL, 'D'), 0, "other modifiers"},
        {1, MAKELPARAM(MOD_ALT | MOD_CONTROL, 'E'), 0, "another key"},
    };
    for (const auto& c : cases) {
        toggles = 0;
        g_last_message = 0;
        SendMessageW(w.get(), WM_HOTKEY, c.id, c.keys);
        EXPECT_EQ(toggles, c.toggles) << c.what;
        EXPECT_EQ(g_last_message, static_cast<UINT>(WM_HOTKEY)) << c.what << ": passed on in every case";
    }
    EXPECT_EQ(SendMessageW(w.get(), WM_APP + 3, 0, 0), 0x77);

    regkey::UnregisterPickerHotKey(w.get());
    EXPECT_EQ(GetWindowLongPtrW(w.get(), GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&OwnProc));
    EXPECT_TRUE(RegisterHotKey(nullptr, 9, MOD_ALT | MOD_CONTROL, 'D')) << "the key was given back";
    UnregisterHotKey(nullptr, 9);
    toggles = 0;
    SendMessageW(w.get(), WM_HOTKEY, 1, MAKELPARAM(MOD_ALT | MOD_CONTROL, 'D'));
    EXPECT_EQ(toggles, 0);
}

namespace {

// Presses or lets go of a key, and waits (with a time-out) until the system's key state says so.
bool SetKey(WORD vk, bool down) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &in, sizeof in);
    return PumpUntil([&] { return ((GetAsyncKeyState(vk) & 0x8000) != 0) == down; }, 5000);
}

// Timer ticks a window of this thread has been given with the key up, since the count was last cleared:
// each is a tick of the release poll that finds the key let go.
HWND g_ticked_window;
int g_ticks;
LRESULT CALLBACK CountTicks(int code, WPARAM wparam, LPARAM lparam) {
    const auto* message = reinterpret_cast<const MSG*>(lparam);
    if (code == HC_ACTION && wparam == PM_REMOVE && message->message == WM_TIMER && message->hwnd == g_ticked_window &&
        (GetAsyncKeyState('D') & 0x8000) == 0)
        ++g_ticks;
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

// The system's messages for the key come as they would while it is held (the first a press, the rest its
// auto-repeats) with the key really down; the key alone is pressed, so the system sends none of its own.
TEST(Regkey, AHotKeyHeldDownTogglesOnceNotOnEveryRepeat) {
    PlainWindow w(10, 10, 50, 50, RGB(0, 0, 0), false);
    int toggles = 0;
    regkey::RegisterPickerHotKey(w.get(), MOD_ALT | MOD_CONTROL, 'D', 1, [&] { ++toggles; });
    const LPARAM keys = MAKELPARAM(MOD_ALT | MOD_CONTROL, 'D');
    HHOOK watch = SetWindowsHookExW(WH_GETMESSAGE, &CountTicks, nullptr, GetCurrentThreadId());
    ASSERT_NE(watch, nullptr);
    g_ticked_window = w.get();

    ASSERT_TRUE(SetKey('D', true));
    for (int i = 0; i < 4; ++i) SendMessageW(w.get(), WM_HOTKEY, 1, keys);  // pressed, then three auto-repeats
    EXPECT_EQ(toggles, 1) << "one press while the key stays down";
    g_ticks = 0;
    ASSERT_TRUE(SetKey('D', false));
    // The release is noticed at the poll's first tick with the key up (perhaps already while SetKey waited).
    ASSERT_TRUE(PumpUntil([] { return g_ticks > 0; }, 5000)) << "the key's release is polled";
    ASSERT_TRUE(SetKey('D', true));
    SendMessageW(w.get(), WM_HOTKEY, 1, keys);  // let go and pressed again: a new press
    SendMessageW(w.get(), WM_HOTKEY, 1, keys);  // and its auto-repeat
    EXPECT_EQ(toggles, 2);
    ASSERT_TRUE(SetKey('D', false));

    UnhookWindowsHookEx(watch);
    regkey::UnregisterPickerHotKey(w.get());
}
