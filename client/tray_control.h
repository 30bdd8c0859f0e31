#pragma once
// Tray: one icon in the taskbar's notification area, its balloon, and the presses on it as two events.
// The control owns a hidden top-level window that receives the icon's callback message (a hidden top-level
// window, not a message-only one, because the shell's "TaskbarCreated" broadcast reaches top-level windows
// only). Every call sends the whole notify record in its 488-byte ANSI layout.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <shellapi.h>

#include <functional>
#include <optional>
#include <string>

#include "win/com_ptr.h"
#include "win/window_subclass.h"

namespace vantorix::client {

class Tray {
public:
    static constexpr UINT kCallbackMessage = WM_MOUSEMOVE;  // 512: presses arrive as mouse-move messages
    static constexpr UINT kRecordSize = 488;
    static constexpr UINT kFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO;  // 23
    static constexpr const wchar_t* kWindowClass = L"VantorixTray";
    static constexpr const wchar_t* kPictureKey = L"PictureIcon";

    // `container` is the form that holds the control; its icon shows when no picture is set.
    explicit Tray(HWND container);
    ~Tray();  // removes the icon
    Tray(const Tray&) = delete;
    Tray& operator=(const Tray&) = delete;

    void Show();
    void ShowBubble(const std::wstring& title, const std::wstring& text, LONG style);
    void ChangeIcon(const VARIANT& icon);  // a tagged value taken as a 32-bit icon handle
    void Hide();

    IPicture* Picture() const { return picture_.get(); }
    void SetPicture(IPicture* picture);  // also shown on the control's own face

    // Property store of a host that keeps the control's properties: "PictureIcon", default none.
    HRESULT LoadProperties(IPropertyBag* bag);
    HRESULT SaveProperties(IPropertyBag* bag);

    std::function<void()> on_click;       // left press on the icon
    std::function<void()> on_popup_menu;  // right press on the icon

    HWND window() const { return window_; }
    // The record as last sent (tests read the balloon fields back).
    const NOTIFYICONDATAA& record() const { return record_; }

private:
    std::optional<LRESULT> Handle(UINT message, WPARAM wparam, LPARAM lparam);
    void FillRecordHeader();
    HICON CurrentIcon() const;
    void Send(DWORD action);

    HWND container_;
    HWND window_ = nullptr;
    win::WindowSubclass subclass_{L"Tray", [this](HWND, UINT m, WPARAM w, LPARAM l) { return Handle(m, w, l); }};
    NOTIFYICONDATAA record_{};
    win::com_ptr<IPicture> picture_;
    bool shown_ = false;  // the icon was added and not removed since: re-added when the taskbar comes back
    UINT taskbar_created_ = 0;
};

}  // namespace vantorix::client
