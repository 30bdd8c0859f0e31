#pragma once
// Helpers of the client's Windows-side tests: plain windows to act on, message pumping, input from a
// second thread, and counts of the process's GDI objects and windows.
#include <windows.h>

#include <functional>
#include <string>

namespace client_test {

// A top-level popup window of the given size, painted in one colour; destroyed with the object.
class PlainWindow {
public:
    PlainWindow(int x, int y, int width, int height, COLORREF color = RGB(255, 255, 255), bool shown = true);
    ~PlainWindow();
    HWND get() const { return window_; }
    RECT rect() const;

private:
    HWND window_ = nullptr;
    HBRUSH brush_ = nullptr;
};

// Sets the work area (where the taskbar leaves room) for a test and puts the real one back afterwards.
struct WorkArea {
    RECT saved{};
    explicit WorkArea(RECT area) {
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &saved, 0);
        SystemParametersInfoW(SPI_SETWORKAREA, 0, &area, 0);
    }
    ~WorkArea() { SystemParametersInfoW(SPI_SETWORKAREA, 0, &saved, 0); }
};

// Dispatches this thread's messages for about `ms` milliseconds.
void Pump(int ms);
// Dispatches messages until `done` holds or `ms` milliseconds passed; returns done().
bool PumpUntil(const std::function<bool()>& done, int ms);

// Runs `action` on another thread after `delay_ms` (input from outside, as a user's hand would give it).
void Later(int delay_ms, std::function<void()> action);
void MouseTo(int x, int y);
void MouseButton(bool down);
void CtrlAltD();

// True when the notification area knows an icon of `owner` with identifier 0.
bool TrayIconPresent(HWND owner);

// Live GDI objects of this process (the system's count, or Wine's shared handle table when the system
// reports none), and the windows of this thread with their children.
long GdiObjectCount();
long WindowCount();

std::wstring WindowText(HWND window);

// The process runs DPI aware (as the client does); the screen's dots per inch (Wine's LogPixels).
bool DpiAware();
int ScreenDpi();

}  // namespace client_test
