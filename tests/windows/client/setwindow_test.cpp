// Moving, resizing and maximising the borderless window, and its size limits.
#include <gtest/gtest.h>

#include <vector>

#include "client/setwindow.h"
#include "test_support.h"

using namespace vantorix::client;
using namespace client_test;

namespace {

RECT Rect(HWND w) {
    RECT r{};
    GetWindowRect(w, &r);
    return r;
}

// Every message sent to a window of this thread that would begin (or is) the system's resize loop.
std::vector<UINT> g_resize_messages;
LRESULT CALLBACK WatchResize(int code, WPARAM wparam, LPARAM lparam) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lparam);
    if (code == HC_ACTION && (sent->message == WM_NCLBUTTONDOWN || sent->message == WM_ENTERSIZEMOVE))
        g_resize_messages.push_back(sent->message);
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

TEST(Setwindow, MaximiseFillsTheWorkAreaWhereverTheTaskbarIsAndASecondCallRestoresExactly) {
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    struct Case { RECT work; const char* what; } cases[] = {
        {{0, 0, sw, sh - 40}, "40-pixel taskbar at the bottom"},
        {{0, 40, sw, sh}, "taskbar at the top"},
        {{60, 0, sw, sh}, "taskbar at the left"},
        {{0, 0, sw - 60, sh}, "taskbar at the right"},
    };
    for (const auto& c : cases) {
        const RECT& expected = c.work;
        WorkArea area(c.work);
        PlainWindow w(137, 91, 1000, 611);
        vantorix::window::RestoreBounds bounds;
        setwindow::Mmaximize(w.get(), bounds);
        RECT r = Rect(w.get());
        EXPECT_TRUE(bounds.maximised) << c.what;
        EXPECT_EQ(r.left, expected.left) << c.what;
        EXPECT_EQ(r.top, expected.top) << c.what;
        EXPECT_EQ(r.right, expected.right) << c.what;
        EXPECT_EQ(r.bottom, expected.bottom) << c.what;
        setwindow::Mmaximize(w.get(), bounds);
        r = Rect(w.get());
        EXPECT_FALSE(bounds.maximised);
        EXPECT_EQ(r.left, 137) << c.what;
        EXPECT_EQ(r.top, 91) << c.what;
        EXPECT_EQ(r.right - r.left, 1000) << c.what;
        EXPECT_EQ(r.bottom - r.top, 611) << c.what;
    }
}

TEST(Setwindow, TaskbarHeightIsReadFromTheWorkAreaInTwips) {
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    struct Case { RECT work; short twips; } cases[] = {
        {{0, 0, sw, sh - 40}, 600}, {{0, 0, sw, sh - 1}, 15}, {{0, 30, sw, sh}, 0}, {{0, 0, sw, sh}, 0},
    };
    for (const auto& c : cases) {
        WorkArea area(c.work);
        EXPECT_EQ(setwindow::GetTaskbarHeight(), c.twips) << c.work.bottom;
    }
}

TEST(Setwindow, SizeLimitsAnswerTheQueryAndEveryOtherMessagePassesUnchanged) {
    PlainWindow w(50, 50, 400, 300);
    // A window procedure that records what reaches it and answers with a value of its own.
    static UINT seen_message;
    static WPARAM seen_w;
    static LPARAM seen_l;
    static WNDPROC original;
    original = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(w.get(), GWLP_WNDPROC));
    struct Recorder {
        static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
            if (m >= WM_APP) {
                seen_message = m;
                seen_w = wp;
                seen_l = lp;
                return 0x5A5A;
            }
            return CallWindowProcW(original, h, m, wp, lp);
        }
    };
    SetWindowLongPtrW(w.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Recorder::Proc));
    setwindow::InstallSizeLimits(w.get(), 400, 300, 1280, 800);

    MINMAXINFO info{};
    info.ptReserved = {7, 9};
    EXPECT_EQ(SendMessageW(w.get(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info)), 0);
    EXPECT_EQ(info.ptReserved.x, 7);
    EXPECT_EQ(info.ptReserved.y, 9);
    EXPECT_EQ(info.ptMaxSize.x, 1280);
    EXPECT_EQ(info.ptMaxSize.y, 800);
    EXPECT_EQ(info.ptMaxPosition.x, 0);
    EXPECT_EQ(info.ptMaxPosition.y, 0);
    EXPECT_EQ(info.ptMinTrackSize.x, 400);
    EXPECT_EQ(info.ptMinTrackSize.y, 300);
    EXPECT_EQ(info.ptMaxTrackSize.x, 1280);
    EXPECT_EQ(info.ptMaxTrackSize.y, 800);

    EXPECT_EQ(SendMessageW(w.get(), WM_APP + 7, 0x1234, 0x5678), 0x5A5A);
    EXPECT_EQ(seen_message, static_cast<UINT>(WM_APP + 7));
    EXPECT_EQ(seen_w, static_cast<WPARAM>(0x1234));
    EXPECT_EQ(seen_l, static_cast<LPARAM>(0x5678));
    // The window's own handling still runs: its text is set and read through the chain.
    SetWindowTextW(w.get(), L"still mine");
    EXPECT_EQ(WindowText(w.get()), L"still mine");
}

TEST(Setwindow, UnknownZoneNamesOnlyReleaseTheCapture) {
    PlainWindow w(200, 200, 400, 300);
    for (const wchar_t* zone : {L"NW-RESIZE", L"btn", L"", L"nw-resize "}) {
        SetCapture(w.get());
        ASSERT_EQ(GetCapture(), w.get());
        const RECT before = Rect(w.get());
        g_resize_messages.clear();
        HHOOK watch = SetWindowsHookExW(WH_CALLWNDPROC, &WatchResize, nullptr, GetCurrentThreadId());
        ASSERT_NE(watch, nullptr);
        setwindow::StartEdgeResize(w.get(), zone);
        UnhookWindowsHookEx(watch);
        EXPECT_EQ(GetCapture(), nullptr) << zone;
        EXPECT_TRUE(g_resize_messages.empty()) << "a resize began for " << zone;
        const RECT after = Rect(w.get());
        EXPECT_TRUE(EqualRect(&before, &after)) << zone;
    }
}

TEST(Setwindow, CornerResizeFollowsTheMouseAndStopsAtTheSizeLimits) {
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    PlainWindow w(300, 200, 500, 350);
    SetForegroundWindow(w.get());
    setwindow::InstallSizeLimits(w.get(), 500, 350, sw, sh);
    struct Case { const wchar_t* zone; POINT grab, to; RECT expect; int slack; const char* what; } cases[] = {
        // Grow from the top-left corner by 40 x 30.
        {L"nw-resize", {300, 200}, {260, 170}, {260, 170, 800, 550}, 0, "grow from the top-left"},
        // Try to shrink far below the initial size from the bottom-right: stops at the minimum.
        {L"se-resize", {799, 549}, {400, 300}, {260, 170, 260 + 500, 170 + 350}, 1, "shrink stops at the minimum"},
    };
    for (const auto& c : cases) {
        MouseTo(c.grab.x, c.grab.y);
        Pump(100);
        MouseButton(true);
        Later(400, [c] {
            MouseTo((c.grab.x + c.to.x) / 2, (c.grab.y + c.to.y) / 2);
            Sleep(150);
            MouseTo(c.to.x, c.to.y);
            Sleep(250);
            MouseButton(false);
        });
        setwindow::StartEdgeResize(w.get(), c.zone);  // returns when the button is up
        Pump(100);
        const RECT r = Rect(w.get());
        EXPECT_NEAR(r.left, c.expect.left, c.slack) << c.what;
        EXPECT_NEAR(r.top, c.expect.top, c.slack) << c.what;
        EXPECT_NEAR(r.right, c.expect.right, c.slack) << c.what;
        EXPECT_NEAR(r.bottom, c.expect.bottom, c.slack) << c.what;
        EXPECT_GE(r.right - r.left, 500) << c.what;
        EXPECT_GE(r.bottom - r.top, 350) << c.what;
    }
    // Growing beyond the screen's size stops there: the window hangs off the top-left, its corner is
    // pulled to the screen's far corner.
    MoveWindow(w.get(), -200, -200, 600, 400, TRUE);
    Pump(100);
    MouseTo(399, 199);
    Pump(100);
    MouseButton(true);
    Later(400, [sw, sh] {
        MouseTo(sw / 2, sh / 2);
        Sleep(150);
        MouseTo(sw - 1, sh - 1);
        Sleep(250);
        MouseButton(false);
    });
    setwindow::StartEdgeResize(w.get(), L"se-resize");
    Pump(100);
    const RECT r = Rect(w.get());
    EXPECT_LE(r.right - r.left, sw + 1);
    EXPECT_LE(r.bottom - r.top, sh + 1);
    EXPECT_GE(r.right - r.left, sw - 1) << "the window did grow up to the limit";
}

TEST(Setwindow, DragMovesTheWindowWithTheMouse) {
    PlainWindow w(300, 200, 400, 300);
    SetForegroundWindow(w.get());
    MouseTo(350, 220);
    Pump(100);
    MouseButton(true);
    Later(400, [] {
        MouseTo(380, 250);
        Sleep(150);
        MouseTo(410, 280);
        Sleep(250);
        MouseButton(false);
    });
    setwindow::StartDrag(w.get());
    Pump(100);
    const RECT r = Rect(w.get());
    EXPECT_EQ(r.left, 360);
    EXPECT_EQ(r.top, 260);
    EXPECT_EQ(r.right - r.left, 400);
}
