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

TEST(Regkey, AHotKeyHeldDownTogglesOnceNotOnEveryRepeat) {
    PlainWindow w(10, 10, 50, 50, RGB(0, 0, 0), false);
    int toggles = 0;
    regkey::RegisterPickerHotKey(w.get(), MOD_ALT | MOD_CONTROL, 'D', 1, [&] { ++toggles; });
    auto key = [](WORD vk, bool down) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = vk;
        in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
        SendInput(1, &in, sizeof in);
        Sleep(60);  // about the pace of a keyboard's auto-repeat
    };
    Later(200, [&] {
        key(VK_CONTROL, true);
        key(VK_MENU, true);
        for (int i = 0; i < 4; ++i) key('D', true);  // pressed, then three auto-repeats
        key('D', false);
        Sleep(300);
        key('D', true);  // let go and pressed again: a new press
        key('D', false);
        key(VK_MENU, false);
        key(VK_CONTROL, false);
    });
    Pump(3000);
    EXPECT_EQ(toggles, 2);
    regkey::UnregisterPickerHotKey(w.get());
}
