#pragma once
// One handler in front of one window's procedure, through the system's subclassing (SetWindowSubclass):
// it sees each message first and answers it or lets it go on, unchanged, to the procedures below. Several
// may stack on one window, each takes out only itself, and each is taken out when its window is destroyed
// or its owner goes, whichever comes first. This is the window-procedure boundary of every handler: an
// exception it throws is recorded in the diagnostic log and the message answered with 0.
//
// Used on the window's own thread only. Not movable: the system keeps the owner's address.
#include <windows.h>

#include <functional>
#include <optional>

namespace vantorix::win {

// The failure a window procedure's handler threw, recorded from inside the catch block that stops it at
// the procedure's boundary ("where: a message handler failed: <what>").
void RecordHandlerFailure(const wchar_t* where);

class WindowSubclass {
public:
    // The message's result when the handler answered it; nullopt passes it on.
    using Handler = std::function<std::optional<LRESULT>(HWND window, UINT message, WPARAM wparam, LPARAM lparam)>;

    // `where` names the handler in the diagnostic log.
    WindowSubclass(const wchar_t* where, Handler handler);
    ~WindowSubclass();
    WindowSubclass(const WindowSubclass&) = delete;
    WindowSubclass& operator=(const WindowSubclass&) = delete;

    // Puts the handler in front of the window's procedure (taken off a window it was on before);
    // installing it again on the same window changes nothing. False when the system refuses.
    bool Install(HWND window);
    // Takes the handler out; nothing when it is not installed.
    void Remove();
    HWND window() const { return window_; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                      DWORD_PTR owner);

    const wchar_t* where_;
    Handler handler_;
    HWND window_ = nullptr;
};

}  // namespace vantorix::win
