#include "webview/control/control_window.h"

#include "webview/com/module.h"
#include "webview/control/velview_control.h"

namespace velview::view {
namespace {

Velview* ControlOf(HWND window) { return reinterpret_cast<Velview*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return DefWindowProcW(window, message, wParam, lParam);
    }
    Velview* control = ControlOf(window);
    if (!control) return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
        case WM_SHOWWINDOW:
            if (wParam) control->OnShow();
            return 0;
        case WM_SIZE:
            control->OnSize(LOWORD(lParam), HIWORD(lParam));
            return 0;
        case WM_PARENTNOTIFY:
            // A click into the page makes the control the container's active object.
            if (LOWORD(wParam) == WM_LBUTTONDOWN || LOWORD(wParam) == WM_RBUTTONDOWN ||
                LOWORD(wParam) == WM_MBUTTONDOWN)
                control->OnPageClicked();
            return 0;
        case WM_ERASEBKGND:
            return 1;  // WM_PAINT fills the whole area
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            RECT area;
            GetClientRect(window, &area);
            control->OnPaint(dc, area);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_NCDESTROY:
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            control->OnWindowGone();
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterControlClass() {
    static const bool registered = [] {
        WNDCLASSEXW wc = {sizeof(wc)};
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = ControlWindowProc;
        wc.hInstance = module::Instance() ? module::Instance() : GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
        wc.lpszClassName = kControlWindowClass;
        return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
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
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
}

HWND ParkingWindow() {
    static const HWND parking = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                                GetModuleHandleW(nullptr), nullptr);
    return parking;
}

std::vector<HWND> ParkChildWindows(HWND window) {
    std::vector<HWND> children;
    if (!window || !ParkingWindow()) return children;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    for (HWND child : children) SetParent(child, ParkingWindow());
    return children;
}

void UnparkChildWindows(const std::vector<HWND>& windows, HWND window) {
    for (HWND child : windows)
        if (IsWindow(child)) SetParent(child, window);
}

}  // namespace velview::view
