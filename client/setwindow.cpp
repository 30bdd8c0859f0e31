#include "client/setwindow.h"

#include <string>

#include "client/dpi.h"
#include "common/window/hit_test.h"
#include "win/window_subclass.h"

namespace vantorix::client::setwindow {
namespace {

// Module-wide: one set of limits for the one main window, answered from one subclass of it.
window::SizeLimits g_limits;

win::WindowSubclass& LimitsSubclass() {
    static win::WindowSubclass subclass(L"Setwindow.SizeLimitProc", &SizeLimitProc);
    return subclass;
}

window::PixelRect WindowRect(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

void Apply(HWND window, const window::PixelRect& r) {
    SetWindowPos(window, nullptr, r.left, r.top, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

double ScreenTwipsPerPixel() { return window::TwipsPerPixel(ScreenDpi()); }

// The press that starts a system move or size loop, at the cursor's screen position as a real press on the
// frame would carry it. Windows and Wine measure the loop from the position of the message being handled
// (the page's own press, as the page starts a drag on mouse-down); a loop that reads the press's point
// instead would make the window jump by the cursor's distance from the screen's corner with a zero point.
LPARAM CursorPoint() {
    POINT cursor{};
    GetCursorPos(&cursor);
    return MAKELPARAM(static_cast<SHORT>(cursor.x), static_cast<SHORT>(cursor.y));
}

void StartDrag(HWND window) {
    ReleaseCapture();
    SendMessageW(window, WM_NCLBUTTONDOWN, window::kMoveZoneCode, CursorPoint());
}

void StartEdgeResize(HWND window, std::wstring_view zone) {
    ReleaseCapture();
    // Zone names are ASCII; any other character can match none of them.
    std::string name;
    for (wchar_t c : zone) {
        if (c > 0x7F) return;
        name += static_cast<char>(c);
    }
    if (auto code = window::ResizeZoneCode(name)) SendMessageW(window, WM_NCLBUTTONDOWN, *code, CursorPoint());
}

std::int16_t GetTaskbarHeight() {
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return window::TaskbarHeightTwips(GetSystemMetrics(SM_CYSCREEN), work.bottom, ScreenTwipsPerPixel());
}

window::Edges MonitorArea(HWND window) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
    return {info.rcMonitor.left, info.rcMonitor.top, info.rcMonitor.right, info.rcMonitor.bottom};
}

window::Edges MonitorWorkArea(HWND window) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
    RECT work = info.rcWork;
    // The primary monitor's work area is the system's own setting (Wine's monitor record does not follow
    // a change of it).
    if (info.dwFlags & MONITORINFOF_PRIMARY) SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return {work.left, work.top, work.right, work.bottom};
}

void Mmaximize(HWND window, window::RestoreBounds& bounds) {
    const double f = ScreenTwipsPerPixel();
    // On the monitor the window is on (maximising on a second monitor stays there).
    const window::TwipRect maximised =
        window::ToTwips(window::MaximisedOnMonitor(MonitorArea(window), MonitorWorkArea(window)), f);
    const window::TwipRect target = window::ToggleMaximise(bounds, window::ToTwips(WindowRect(window), f), maximised);
    Apply(window, window::ToPixels(target, f));
}

void UpdateSizeLimits(LONG min_width, LONG min_height, LONG max_width, LONG max_height) {
    g_limits = {min_width, min_height, max_width, max_height};
}

void InstallSizeLimits(HWND window, LONG min_width, LONG min_height, LONG max_width, LONG max_height) {
    UpdateSizeLimits(min_width, min_height, max_width, max_height);
    LimitsSubclass().Install(window);  // a second install on the same window changes nothing
}

std::optional<LRESULT> SizeLimitProc(HWND, UINT message, WPARAM, LPARAM lparam) {
    if (message != WM_GETMINMAXINFO || lparam == 0) return std::nullopt;
    MINMAXINFO info;
    CopyMemory(&info, reinterpret_cast<const void*>(lparam), sizeof info);
    info.ptMaxSize = {g_limits.max_width, g_limits.max_height};
    info.ptMaxPosition = {0, 0};
    info.ptMinTrackSize = {g_limits.min_width, g_limits.min_height};
    info.ptMaxTrackSize = {g_limits.max_width, g_limits.max_height};
    CopyMemory(reinterpret_cast<void*>(lparam), &info, sizeof info);
    return 0;  // answered here, not passed on
}

}  // namespace vantorix::client::setwindow
