#include "client/tray_control.h"

#include <cstring>
#include <string>

#include "common/window/balloon_text.h"
#include "win/code_page.h"
#include "win/unique_handle.h"
#include "win/variant.h"

namespace vantorix::client {
namespace {

static_assert(sizeof(NOTIFYICONDATAA) >= Tray::kRecordSize, "the record must hold the 488-byte layout");
static_assert(offsetof(NOTIFYICONDATAA, dwInfoFlags) + sizeof(DWORD) <= Tray::kRecordSize,
              "the balloon flags lie inside the 488-byte layout");

constexpr int kFaceSize = 32;

// Text in the system's ANSI code page, cut at a character boundary so that it fits a field of
// `field_size` bytes with its terminator.
void CopyAnsi(char* field, std::size_t field_size, const std::wstring& text) {
    const std::string ansi = win::ToCodePage(text);
    const UINT code_page = GetACP();
    const std::size_t length = window::FittingPrefixLength(
        ansi, field_size, [code_page](unsigned char b) { return IsDBCSLeadByteEx(code_page, b) != FALSE; });
    std::memset(field, 0, field_size);
    std::memcpy(field, ansi.data(), length);
}

ATOM RegisterTrayClass() {
    static ATOM atom = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcW;  // each window's messages go through its tray's subclass first
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = Tray::kWindowClass;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        return RegisterClassExW(&wc);
    }();
    return atom;
}

}  // namespace

Tray::Tray(HWND container) : container_(container) {
    RegisterTrayClass();
    window_ = CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, L"", WS_POPUP, 0, 0, kFaceSize, kFaceSize, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    subclass_.Install(window_);
    taskbar_created_ = RegisterWindowMessageW(L"TaskbarCreated");
    // The record starts empty: no tip, no balloon.
    record_.cbSize = kRecordSize;
}

Tray::~Tray() {
    Hide();
    if (window_) DestroyWindow(window_);
}

void Tray::FillRecordHeader() {
    record_.cbSize = kRecordSize;
    record_.hWnd = window_;
    record_.uID = 0;
    record_.uFlags = kFlags;
    record_.uCallbackMessage = kCallbackMessage;
}

HICON Tray::CurrentIcon() const {
    if (picture_) {
        OLE_HANDLE handle = 0;
        if (SUCCEEDED(picture_->get_Handle(&handle))) return reinterpret_cast<HICON>(static_cast<UINT_PTR>(handle));
    }
    // The form's small icon is the one made for the notification area's size at this scale; the large one
    // would be shrunk by the shell and blur.
    auto icon = reinterpret_cast<HICON>(SendMessageW(container_, WM_GETICON, ICON_SMALL, 0));
    if (!icon) icon = reinterpret_cast<HICON>(SendMessageW(container_, WM_GETICON, ICON_BIG, 0));
    if (!icon) icon = reinterpret_cast<HICON>(GetClassLongPtrW(container_, GCLP_HICON));
    return icon;
}

void Tray::Send(DWORD action) { Shell_NotifyIconA(action, &record_); }

void Tray::Show() {
    FillRecordHeader();
    record_.hIcon = CurrentIcon();
    Send(NIM_ADD);
    shown_ = true;
}

void Tray::ShowBubble(const std::wstring& title, const std::wstring& text, LONG style) {
    CopyAnsi(record_.szInfoTitle, sizeof record_.szInfoTitle, title);
    CopyAnsi(record_.szInfo, sizeof record_.szInfo, text);
    record_.dwInfoFlags = static_cast<DWORD>(style);
    Send(NIM_MODIFY);
}

void Tray::ChangeIcon(const VARIANT& icon) {
    record_.szInfoTitle[0] = '\0';
    record_.szInfo[0] = '\0';
    win::Variant value;
    LONG handle = 0;
    if (SUCCEEDED(VariantChangeType(value.put(), const_cast<VARIANT*>(&icon), 0, VT_I4))) handle = value.get()->lVal;
    record_.hIcon = reinterpret_cast<HICON>(static_cast<LONG_PTR>(handle));
    Send(NIM_MODIFY);
}

void Tray::Hide() {
    FillRecordHeader();
    Send(NIM_DELETE);
    shown_ = false;
}

void Tray::SetPicture(IPicture* picture) {
    picture_ = win::com_ptr<IPicture>::share(picture);
    InvalidateRect(window_, nullptr, TRUE);
}

HRESULT Tray::LoadProperties(IPropertyBag* bag) {
    if (!bag) return E_POINTER;
    win::Variant value;
    value.get()->vt = VT_UNKNOWN;  // what the bag should give back
    value.get()->punkVal = nullptr;
    const HRESULT hr = bag->Read(kPictureKey, value.get(), nullptr);
    const VARIANT& read = *value.get();
    if (SUCCEEDED(hr) && (read.vt == VT_UNKNOWN || read.vt == VT_DISPATCH) && read.punkVal) {
        win::com_ptr<IPicture> picture;
        if (SUCCEEDED(read.punkVal->QueryInterface(IID_IPicture, picture.put_void()))) SetPicture(picture.get());
    }
    return S_OK;  // no stored picture is the default, not a failure
}

HRESULT Tray::SaveProperties(IPropertyBag* bag) {
    if (!bag) return E_POINTER;
    if (!picture_) return S_OK;  // the default (none) is not written
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_UNKNOWN;
    value.punkVal = picture_.get();
    return bag->Write(kPictureKey, &value);
}

std::optional<LRESULT> Tray::Handle(UINT message, WPARAM, LPARAM lparam) {
    if (message == kCallbackMessage) {
        // The icon's callback: the mouse message of the press is in the second parameter. A left press is
        // button state 1, a right press state 2; every other message raises nothing. Raised at every
        // display scale.
        switch (static_cast<UINT>(lparam)) {
            case WM_LBUTTONDOWN:
                if (on_click) on_click();
                return 0;
            case WM_RBUTTONDOWN:
                if (on_popup_menu) on_popup_menu();
                return 0;
            default:
                return 0;
        }
    }
    if (taskbar_created_ != 0 && message == taskbar_created_) {
        // The shell came back (explorer restarted): it knows no icons any more.
        if (shown_) {
            FillRecordHeader();
            record_.hIcon = record_.hIcon ? record_.hIcon : CurrentIcon();
            Send(NIM_ADD);
        }
        return 0;
    }
    switch (message) {
        case WM_CLOSE:
            // A close request to this hidden helper (as taskkill sends to every top-level window) is the
            // main window's to answer; closing only this one would leave a client without its icon.
            return 0;
        case WM_SIZE:
            if (LOWORD(lparam) != kFaceSize || HIWORD(lparam) != kFaceSize)
                SetWindowPos(window_, nullptr, 0, 0, kFaceSize, kFaceSize, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        case WM_PAINT: {
            const win::unique_paint_dc dc(window_);
            if (picture_) {
                OLE_XSIZE_HIMETRIC w = 0;
                OLE_YSIZE_HIMETRIC h = 0;
                picture_->get_Width(&w);
                picture_->get_Height(&h);
                picture_->Render(dc.get(), 0, 0, kFaceSize, kFaceSize, 0, h, w, -h, nullptr);
            }
            return 0;
        }
        default:
            return std::nullopt;
    }
}

}  // namespace vantorix::client
