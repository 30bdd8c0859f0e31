#include "win/window_class.h"

#include "win/diagnostic_log.h"

namespace vantorix::win::window_class {

bool Register(WNDCLASSEXW details, WNDPROC procedure) {
    details.cbSize = sizeof details;
    details.lpfnWndProc = procedure;
    if (::RegisterClassExW(&details) || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS) return true;
    diag::RecordLastError(details.lpszClassName, L"the window class could not be registered");
    return false;
}

void* OwnerOf(HWND window) noexcept { return reinterpret_cast<void*>(::GetWindowLongPtrW(window, GWLP_USERDATA)); }

void Keep(HWND window, void* owner) noexcept {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
}

}  // namespace vantorix::win::window_class
