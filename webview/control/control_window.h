#pragma once
// The control's own child window: the parent of the engine's web window. It reports show, size and paint
// to its control; it holds no reference to it (the control destroys the window before it goes).
#include <windows.h>

#include <vector>

#include "win/unique_handle.h"

namespace velview::view {

class Velview;

inline constexpr wchar_t kControlWindowClass[] = L"VelviewControlWindow";

// A hidden child of `parent` at `position`; nullptr when it cannot be made.
HWND CreateControlWindow(HWND parent, const RECT& position, Velview* control);
// Detaches the control from the window and destroys it.
void DestroyControlWindow(HWND window);

// The engine's web window while its control is deactivated. Containers deactivate and activate a control
// again (tab switches, re-created host windows), and the engine is started once per control: Park moves the
// windows inside the control window into a hidden message-only window of the control's own, so destroying
// the control window leaves them alive, and Restore puts them into the new control window. When the
// control goes for good, the parked windows go with it (the engine view itself is never destroyed by the
// library): nothing of a control that was torn down stays behind, re-parented or alive.
class ParkedViews {
public:
    ParkedViews() = default;
    ParkedViews(const ParkedViews&) = delete;
    ParkedViews& operator=(const ParkedViews&) = delete;

    // Moves the windows inside `window` here (nothing when it has none, or no parking window can be made).
    void Park(HWND window);
    // Moves the parked windows that still exist into `window`, and lets the parking window go.
    void Restore(HWND window);

private:
    vantorix::win::unique_hwnd parking_;
    std::vector<HWND> windows_;
};

}  // namespace velview::view
