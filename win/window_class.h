#pragma once
// A window class whose windows each belong to one C++ object, the owner. The owner's address travels in
// CreateWindowEx's last parameter and is kept in the window's GWLP_USERDATA from WM_NCCREATE to
// WM_NCDESTROY (or until the owner detaches itself); every message in between goes to `Handle`, the
// class's handler, with the owner. Messages that come before WM_NCCREATE or after the owner is gone go to
// DefWindowProc.
//
// This is the window-procedure boundary of every such class: an exception the handler throws is recorded in
// the diagnostic log ("where: a message handler failed: ...") and the message is answered with 0, its
// neutral result; nothing escapes into the system.
//
//     using Class = win::WindowClass<MainForm, &MainForm::Dispatch>;
//     Class::Register(L"MainForm", details);            // once or every time: a second call changes nothing
//     CreateWindowExW(..., details.lpszClassName, ..., this);
//     Class::Detach(window);                            // before the owner goes while its window stays
#include <windows.h>

namespace vantorix::win {

void RecordHandlerFailure(const wchar_t* where);  // win/window_subclass.h

namespace window_class {
// Registers `details` with `procedure`; true also when this module registered the class before.
bool Register(WNDCLASSEXW details, WNDPROC procedure);
// The owner kept in the window (nullptr: none), and the keeping.
void* OwnerOf(HWND window) noexcept;
void Keep(HWND window, void* owner) noexcept;
}  // namespace window_class

template <class Owner, LRESULT (*Handle)(Owner& owner, HWND window, UINT message, WPARAM wparam, LPARAM lparam)>
class WindowClass {
public:
    // `where` names the class in the diagnostic log. `details` gives the class's name, module, style,
    // cursor, icon and brush; its size and procedure are filled in here.
    static bool Register(const wchar_t* where, const WNDCLASSEXW& details) {
        where_ = where;
        return window_class::Register(details, &Procedure);
    }
    // For a window made without its owner in the creation parameter.
    static void Attach(HWND window, Owner* owner) noexcept { window_class::Keep(window, owner); }
    // No further message of `window` reaches its owner.
    static void Detach(HWND window) noexcept {
        if (window) window_class::Keep(window, nullptr);
    }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        if (message == WM_NCCREATE)
            window_class::Keep(window, reinterpret_cast<const CREATESTRUCTW*>(lparam)->lpCreateParams);
        auto* owner = static_cast<Owner*>(window_class::OwnerOf(window));
        if (!owner) return ::DefWindowProcW(window, message, wparam, lparam);
        LRESULT result = 0;
        try {
            result = Handle(*owner, window, message, wparam, lparam);
        } catch (...) {
            RecordHandlerFailure(where_);
            result = 0;
        }
        if (message == WM_NCDESTROY) window_class::Keep(window, nullptr);  // the window's last message
        return result;
    }

    static inline const wchar_t* where_ = L"window";
};

}  // namespace vantorix::win
