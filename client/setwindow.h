#pragma once
// Setwindow: what a frame would give the borderless main window, done on the page's request. Moves and
// resizes run the system's own loops; maximise is the client's own geometry (the work area of the window's
// monitor, whichever side its taskbar is on), not the system's maximised state; the size limits answer the
// system's query from a subclass of the window's procedure.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/window/monitor_fit.h"
#include "common/window/twips.h"

namespace vantorix::client::setwindow {

// The screen's twips per pixel (15 at 96 dpi).
double ScreenTwipsPerPixel();

// Releases the mouse capture and runs the system's move loop for `window`; returns when the button is up.
void StartDrag(HWND window);

// Releases the mouse capture; for a known zone name ("nw-resize", ... exact case) runs the system's resize
// loop from that edge or corner.
void StartEdgeResize(HWND window, std::wstring_view zone);

// Toggles between the client's maximised geometry on the window's monitor and the geometry saved before it.
void Mmaximize(HWND window, window::RestoreBounds& bounds);

// Height of a bottom taskbar in twips: screen height minus the work area's bottom.
std::int16_t GetTaskbarHeight();

// Stores the limits (pixels) and puts SizeLimitProc in front of the window's procedure. One window at a time.
void InstallSizeLimits(HWND window, LONG min_width, LONG min_height, LONG max_width, LONG max_height);

// Replaces the stored limits (the window moved to another monitor, or the display changed).
void UpdateSizeLimits(LONG min_width, LONG min_height, LONG max_width, LONG max_height);

// The monitor that holds most of `window`: its rectangle and work area.
window::Edges MonitorArea(HWND window);
window::Edges MonitorWorkArea(HWND window);

// Answers the size-limits query from the stored limits; every other message goes on unchanged (nullopt) to
// the window's own procedure.
std::optional<LRESULT> SizeLimitProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace vantorix::client::setwindow
