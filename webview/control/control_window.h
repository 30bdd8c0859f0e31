#pragma once
// The control's own child window: the parent of the engine's web window. It reports show, size and paint
// to its control; it holds no reference to it (the control destroys the window before it goes).
#include <windows.h>

namespace velview::view {

class Velview;

inline constexpr wchar_t kControlWindowClass[] = L"VelviewControlWindow";

// A hidden child of `parent` at `position`; nullptr when it cannot be made.
HWND CreateControlWindow(HWND parent, const RECT& position, Velview* control);
// Detaches the control from the window and destroys it.
void DestroyControlWindow(HWND window);

}  // namespace velview::view
