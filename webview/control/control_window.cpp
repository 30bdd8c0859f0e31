#include "webview/control/control_window.h"

#include "webview/com/module.h"
#include "webview/control/velview_control.h"
#include "win/window_class.h"

namespace velview::view {
namespace {

// A throw inside a handler ends at the class's boundary, recorded; the host's message loop never sees it.
LRESULT HandleMessage(Velview& control, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SHOWWINDOW:
            if (wParam) control.OnShow();
            return 0;
        case WM_SIZE:
            control.OnSize(LOWORD(lParam), HIWORD(lParam));
            return 0;
        case WM_PARENTNOTIFY:
            // A click into the page makes the control the container's active object.
            if (LOWORD(wParam) == WM_LBUTTONDOWN || LOWORD(wParam) == WM_RBUTTONDOWN ||
                LOWORD(wParam) == WM_MBUTTONDOWN)
                control.OnPageClicked();
            return 0;
        case WM_ERASEBKGND:
            return 1;  // WM_PAINT fills the whole area
        case WM_PAINT: {
            const vantorix::win::unique_paint_dc dc(window);
            RECT area;
            GetClientRect(window, &area);
            if (dc) control.OnPaint(dc.get(), area);
            return 0;
        }
        case WM_NCDESTROY:  // the class lets the control go after this message
            control.OnWindowGone();
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

using ControlClass = vantorix::win::WindowClass<Velview, &HandleMessage>;

bool RegisterControlClass() {
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.style = CS_DBLCLKS;
        wc.hInstance = module::Instance() ? module::Instance() : GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
        wc.lpszClassName = kControlWindowClass;
        return ControlClass::Register(L"Velview", wc);
    }();
    return registered;
}

}  // namespace

HWND CreateControlWindow(HWND parent, const RECT& position, Velview* control) {
    if (!RegisterControlClass()) return nullptr;
    HINSTANCE instance = module::Instance() ? module::Instance() : GetModuleHandleW(nullptr);
    return CreateWindowExW(0, kControlWindowClass, L"", WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                           position.left, position.top, position.right - position.left,
                           position.bottom - position.top, parent, nullptr, instance, control);
}

void DestroyControlWindow(HWND window) {
    if (!window) return;
    ControlClass::Detach(window);
    DestroyWindow(window);
}

void ParkedViews::Park(HWND window) {
    if (!window || !GetWindow(window, GW_CHILD)) return;
    if (!parking_)
        parking_.reset(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                       GetModuleHandleW(nullptr), nullptr));
    if (!parking_) return;
    std::vector<HWND> children;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    for (HWND child : children) {
        SetParent(child, parking_.get());
        windows_.push_back(child);
    }
}

void ParkedViews::Restore(HWND window) {
    for (HWND child : windows_)
        if (IsWindow(child) && GetParent(child) == parking_.get()) SetParent(child, window);
    windows_.clear();
    parking_.reset();
}

}  // namespace velview::view
