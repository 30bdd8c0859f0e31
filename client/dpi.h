#pragma once
// The scale of the monitor a window is on, and the pointer in real screen pixels. The functions of newer
// systems are looked up at run time, so that the client still starts on Windows 7.
#include <windows.h>

namespace vantorix::client {

// Dots per inch of the screen (LOGPIXELSX of its device context).
int ScreenDpi();
// Dots per inch of a monitor (GetDpiForMonitor where present, else the screen's LOGPIXELSX).
int MonitorDpi(HMONITOR monitor);
// Dots per inch of the monitor that holds most of `window` (the primary one for no window).
int WindowDpi(HWND window);

// The pointer in physical screen pixels, the coordinates of the screen's device context, whatever DPI
// awareness the calling thread has (a DPI-unaware thread's GetCursorPos is scaled by the system).
POINT PhysicalPointerPosition();

}  // namespace vantorix::client
