#include "client/dpi.h"

#include "common/window/dpi.h"
#include "win/system_libraries.h"
#include "win/unique_handle.h"

namespace vantorix::client {
namespace {

using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI

}  // namespace

int ScreenDpi() {
    const auto screen = win::unique_window_dc::ClientOf(nullptr);
    const int dpi = GetDeviceCaps(screen.get(), LOGPIXELSX);
    return dpi > 0 ? dpi : window::kDesignDpi;
}

int MonitorDpi(HMONITOR monitor) {
    // shcore.dll (Windows 8.1 and later) stays loaded for the process once found.
    static const auto get_dpi = [] {
        HMODULE shcore = win::LoadSystemLibrary(L"shcore.dll");
        return shcore ? reinterpret_cast<GetDpiForMonitorFn>(
            reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor"))) : nullptr;
    }();
    UINT x = 0, y = 0;
    if (monitor && get_dpi && SUCCEEDED(get_dpi(monitor, kEffectiveDpi, &x, &y)) && x > 0) return static_cast<int>(x);
    return ScreenDpi();
}

int WindowDpi(HWND window) {
    HMONITOR monitor = window ? MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST)
                              : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    return MonitorDpi(monitor);
}

POINT PhysicalPointerPosition() {
    POINT p{};
    if (!GetPhysicalCursorPos(&p)) GetCursorPos(&p);
    return p;
}

}  // namespace vantorix::client
