#pragma once
// The control's own child window: the parent of the engine's web window. It reports show, size and paint
// to its control; it holds no reference to it (the control destroys the window before it goes).
#include <windows.h>

#include <vector>

namespace velview::view {

class Velview;

inline constexpr wchar_t kControlWindowClass[] = L"VelviewControlWindow";

// A hidden child of `parent` at `position`; nullptr when it cannot be made.
HWND CreateControlWindow(HWND parent, const RECT& position, Velview* control);
// Detaches the control from the window and destroys it.
void DestroyControlWindow(HWND window);

// Moves the windows inside a control window (the engine's web window) to a hidden message-only window, so
// that destroying the control window leaves them alive; returns them for UnparkChildWindows.
std::vector<HWND> ParkChildWindows(HWND window);
// Puts parked windows into `window` again (those that still exist).
void UnparkChildWindows(const std::vector<HWND>& windows, HWND window);

}  // namespace velview::view
