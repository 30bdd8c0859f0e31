#include "win/window_subclass.h"

#include <commctrl.h>

#include <exception>
#include <string>

#include "win/diagnostic_log.h"

namespace vantorix::win {
void RecordHandlerFailure(const wchar_t* where) { diag::RecordCurrentException(where, L"a message handler failed"); }

WindowSubclass::WindowSubclass(const wchar_t* where, Handler handler) : where_(where), handler_(std::move(handler)) {}

WindowSubclass::~WindowSubclass() { Remove(); }

bool WindowSubclass::Install(HWND window) {
    if (window_ && window_ != window) Remove();
    // The owner's address is both the subclass id and its data: one owner, one place in the chain.
    if (!::SetWindowSubclass(window, &Procedure, reinterpret_cast<UINT_PTR>(this), reinterpret_cast<DWORD_PTR>(this))) {
        diag::RecordLastError(where_, L"the window procedure could not be subclassed");
        return false;
    }
    window_ = window;
    return true;
}

void WindowSubclass::Remove() {
    if (!window_) return;
    ::RemoveWindowSubclass(window_, &Procedure, reinterpret_cast<UINT_PTR>(this));
    window_ = nullptr;
}

LRESULT CALLBACK WindowSubclass::Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                           DWORD_PTR owner) {
    auto* self = reinterpret_cast<WindowSubclass*>(owner);
    if (message == WM_NCDESTROY) {
        // The window's last message: the subclass goes with it, the procedures below still see it.
        self->Remove();
        return ::DefSubclassProc(window, message, wparam, lparam);
    }
    try {
        if (std::optional<LRESULT> answer = self->handler_(window, message, wparam, lparam)) return *answer;
    } catch (...) {
        RecordHandlerFailure(self->where_);
        return 0;
    }
    return ::DefSubclassProc(window, message, wparam, lparam);
}

}  // namespace vantorix::win
