#include "client/windowdc.h"

#include <string>

#include "client/dpi.h"
#include "client/regkey.h"
#include "client/setwindow.h"
#include "client/ui_font.h"
#include "common/window/dpi.h"

namespace vantorix::client {
namespace {

constexpr UINT_PTR kTimer1 = 1;

const wchar_t kUsageText[] =
    L"使用方法：\r\n"
    L"1.按下CTRL+ALT+D后移动鼠标开始截取区域\r\n"
    L"2.再次按下CTRL+ALT+D后截取完毕，右上角出现截取区域的图片\r\n"
    L"3.在出现截取区域图片中点击你要的色彩";

struct Control {
    const wchar_t* cls;
    const wchar_t* text;
    DWORD style;
    DWORD ex_style;
    int x, y, w, h;
    Windowdc::ControlId id;
};
const Control kControls[] = {
    // The frame: its border, and its caption as a label of its own laid on the border (a group box's own
    // caption is not redrawn reliably when it changes 20 times a second).
    {L"BUTTON", L"", BS_GROUPBOX, 0, 170, 6, 316, 112, Windowdc::kFrameBorder},
    {L"STATIC", L"鼠标位置：", 0, 0, 180, 4, 150, 16, Windowdc::kFrame1},
    {Windowdc::kPictureClass, L"", WS_BORDER, 0, 12, 12, Windowdc::kPictureSize, Windowdc::kPictureSize, Windowdc::kPicture1},
    {L"STATIC", L"", SS_NOTIFY | WS_BORDER, 0, 90, 12, Windowdc::kPictureSize, Windowdc::kPictureSize, Windowdc::kLabel1},
    {L"BUTTON", L"开始", BS_PUSHBUTTON | WS_TABSTOP, 0, 12, 86, 65, 26, Windowdc::kCommand1},
    {L"BUTTON", L"窗口置顶", BS_AUTOCHECKBOX | WS_TABSTOP, 0, 90, 88, 76, 22, Windowdc::kCheck1},
    {L"STATIC", L"RGB颜色：", SS_RIGHT, 0, 180, 31, 76, 18, Windowdc::kLabelRgb},
    {L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, 262, 28, 210, 22, Windowdc::kText1},
    {L"STATIC", L"十六进制：", SS_RIGHT, 0, 180, 59, 76, 18, Windowdc::kLabelHex},
    {L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, 262, 56, 210, 22, Windowdc::kText2},
    {L"STATIC", L"十进制：", SS_RIGHT, 0, 180, 87, 76, 18, Windowdc::kLabelDec},
    {L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, 262, 84, 210, 22, Windowdc::kText3},
    {L"STATIC", L"", 0, 0, 12, 122, 474, 60, Windowdc::kLabel5},
};

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

void RegisterClasses() {
    static bool done = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpfnWndProc = DefWindowProcW;
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = Windowdc::kWindowClass;
        RegisterClassExW(&wc);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.hCursor = LoadCursorW(nullptr, IDC_CROSS);
        wc.lpszClassName = Windowdc::kPictureClass;
        RegisterClassExW(&wc);
        return true;
    }();
    (void)done;
}

}  // namespace

Windowdc::Windowdc(HWND main_form, PointerSource pointer, WorkAreaSource work_area)
    : main_form_(main_form),
      pointer_(pointer ? std::move(pointer) : PointerSource(&PhysicalPointerPosition)),
      work_area_(work_area ? std::move(work_area) : WorkAreaSource(&setwindow::MonitorWorkArea)) {
    RegisterClasses();
}

int Windowdc::Scaled(int design_pixels) const { return window::ScaleToDpi(design_pixels, dpi_); }

Windowdc::~Windowdc() { Close(); }

void Windowdc::ShowOrActivate() {
    if (window_) {
        ShowWindow(window_, IsIconic(window_) ? SW_RESTORE : SW_SHOW);
        SetForegroundWindow(window_);
        return;
    }
    const DWORD style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    dpi_ = WindowDpi(main_form_);  // the design size at the scale of the main window's monitor
    RECT frame{0, 0, Scaled(kClientWidth), Scaled(kClientHeight)};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    // Centred on the monitor the main form is on, clear of its taskbar.
    const window::PixelRect place =
        window::CentredIn(frame.right - frame.left, frame.bottom - frame.top, work_area_(main_form_));
    HWND window = CreateWindowExW(0, kWindowClass, kCaption, style, place.left, place.top, place.width,
                                  place.height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!window) return;
    window_ = window;
    window_subclass_.Install(window_);

    MakeMagnifierSurface();
    CreateControls();
    // Opening: the hot key through the replaced procedure, the usage text, the main window's icon.
    regkey::RegisterPickerHotKey(window_, kHotKeyModifiers, kHotKeyKey, kHotKeyId, [this] { ToggleSampling(); });
    SetText(kLabel5, kUsageText);
    if (main_form_) {
        auto big = SendMessageW(main_form_, WM_GETICON, ICON_BIG, 0);
        auto small = SendMessageW(main_form_, WM_GETICON, ICON_SMALL, 0);
        SendMessageW(window_, WM_SETICON, ICON_BIG, big);
        SendMessageW(window_, WM_SETICON, ICON_SMALL, small ? small : big);
    }
    ShowWindow(window_, SW_SHOW);
    SetForegroundWindow(window_);
}

void Windowdc::ReleaseMagnifierSurface() {
    magnifier_selection_.reset();
    magnifier_bitmap_.reset();
    magnifier_dc_.reset();
}

void Windowdc::MakeMagnifierSurface() {
    ReleaseMagnifierSurface();
    const auto screen = win::unique_window_dc::ClientOf(nullptr);
    magnifier_dc_.reset(CreateCompatibleDC(screen.get()));
    magnifier_bitmap_.reset(CreateCompatibleBitmap(screen.get(), Scaled(kMagnifiedSize), Scaled(kMagnifiedSize)));
    magnifier_selection_ = win::unique_selection(magnifier_dc_.get(), magnifier_bitmap_.get());
    RECT all{0, 0, Scaled(kMagnifiedSize), Scaled(kMagnifiedSize)};
    FillRect(magnifier_dc_.get(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
}

void Windowdc::CreateControls() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    for (const auto& c : kControls) {
        CreateWindowExW(c.ex_style, c.cls, c.text, WS_CHILD | WS_VISIBLE | c.style, 0, 0, 0, 0, window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
    }
    LayOut();
    picture_subclass_.Install(control(kPicture1));
}

void Windowdc::LayOut() {
    HFONT font = UiFont(dpi_);
    for (const auto& c : kControls) {
        HWND child = control(c.id);
        MoveWindow(child, Scaled(c.x), Scaled(c.y), Scaled(c.w), Scaled(c.h), TRUE);
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
}

void Windowdc::Close() {
    if (window_) DestroyWindow(window_);
}

bool Windowdc::HandleDialogKey(MSG& message) {
    if (!window_ || (message.hwnd != window_ && !IsChild(window_, message.hwnd))) return false;
    return IsDialogMessageW(window_, &message) != FALSE;
}

void Windowdc::SetText(ControlId id, const std::wstring& text) { SetWindowTextW(control(id), text.c_str()); }

void Windowdc::ToggleSampling() {
    if (!window_) return;
    if (sampling_) {
        sampling_ = false;
        SetText(kCommand1, L"开始");
        KillTimer(window_, kTimer1);
    } else {
        sampling_ = true;
        SetText(kCommand1, L"停止");
        SetTimer(window_, kTimer1, kTickMs, nullptr);
    }
}

void Windowdc::ApplyTopmost() {
    const bool checked = SendMessageW(control(kCheck1), BM_GETCHECK, 0, 0) == BST_CHECKED;
    SetWindowPos(window_, checked ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

void Windowdc::Tick() {
    if (!window_) return;
    // The pointer and the screen's device context in the same pixels, at every scale.
    const POINT p = pointer_();
    SetText(kFrame1, L"坐标(" + std::to_wstring(p.x) + L"," + std::to_wstring(p.y) + L")");
    // The screen's device context lives for this tick only.
    auto screen = win::unique_window_dc::ForWindow(nullptr);
    ShowColor(GetPixel(screen.get(), p.x, p.y));
    StretchBlt(magnifier_dc_.get(), 0, 0, Scaled(kMagnifiedSize), Scaled(kMagnifiedSize), screen.get(), p.x - kSampleOffset,
               p.y - kSampleOffset, kSampleSize, kSampleSize, SRCCOPY);
    screen.reset();
    InvalidateRect(control(kPicture1), nullptr, FALSE);
}

void Windowdc::PickAt(POINT in_picture) {
    if (!window_) return;
    ShowColor(GetPixel(magnifier_dc_.get(), in_picture.x, in_picture.y));
}

void Windowdc::ShowColor(COLORREF value) {
    // A pixel that cannot be read comes back as the invalid-colour value: keep what is shown.
    if (value == CLR_INVALID) return;
    auto rgb = window::DecomposeColor(static_cast<std::int64_t>(value));
    if (!rgb) return;
    if (!color_ || !(*color_ == *rgb)) {
        swatch_brush_.reset(CreateSolidBrush(RGB(rgb->red, rgb->green, rgb->blue)));
        InvalidateRect(control(kLabel1), nullptr, TRUE);
    }
    color_ = rgb;
    SetText(kText1, Widen(window::RgbText(*rgb)));
    SetText(kText2, Widen(window::ColorToHex(rgb->red, rgb->green, rgb->blue)));
    SetText(kText3, Widen(window::DecimalText(window::ComposeColor(*rgb))));
}

std::optional<LRESULT> Windowdc::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_TIMER:
            if (wparam == kTimer1) Tick();
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wparam) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus && IsChild(window_, focus)) last_focus_ = focus;
                break;
            }
            // Each activation ticks "窗口置顶"; the change makes the window topmost.
            if (SendMessageW(control(kCheck1), BM_GETCHECK, 0, 0) != BST_CHECKED) {
                SendMessageW(control(kCheck1), BM_SETCHECK, BST_CHECKED, 0);
                ApplyTopmost();
            }
            // As a dialog does: the focus goes back to the control that had it, first to "开始".
            if (HIWORD(wparam) == 0) {
                SetFocus(last_focus_ && IsChild(window_, last_focus_) ? last_focus_ : control(kCommand1));
                return 0;
            }
            break;
        case WM_COMMAND:
            if (LOWORD(wparam) == IDCANCEL && lparam == 0) {  // Esc, from the dialog keys
                DestroyWindow(window_);
                return 0;
            }
            if (HIWORD(wparam) == BN_CLICKED) {
                if (LOWORD(wparam) == kCommand1) ToggleSampling();
                if (LOWORD(wparam) == kCheck1) ApplyTopmost();
                return 0;
            }
            break;
        case WM_CTLCOLORSTATIC:
            if (reinterpret_cast<HWND>(lparam) == control(kLabel1) && swatch_brush_)
                return reinterpret_cast<LRESULT>(swatch_brush_.get());
            break;
        case WM_DPICHANGED: {
            // Moved to a monitor of another scale: the layout and the magnifier follow it.
            dpi_ = LOWORD(wparam);
            MakeMagnifierSurface();
            LayOut();
            const RECT& suggested = *reinterpret_cast<const RECT*>(lparam);
            SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                         suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case WM_CLOSE:
            DestroyWindow(window_);
            return 0;
        case WM_DESTROY: {
            HWND window = window_;
            KillTimer(window, kTimer1);
            sampling_ = false;
            regkey::UnregisterPickerHotKey(window);
            ReleaseMagnifierSurface();
            swatch_brush_.reset();
            color_.reset();
            last_focus_ = nullptr;
            window_ = nullptr;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<LRESULT> Windowdc::HandlePicture(HWND picture, UINT message, LPARAM lparam) {
    if (!magnifier_dc_) return std::nullopt;
    switch (message) {
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            PickAt({static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))});
            return 0;
        case WM_PAINT: {
            const win::unique_paint_dc dc(picture);
            BitBlt(dc.get(), 0, 0, Scaled(kPictureSize), Scaled(kPictureSize), magnifier_dc_.get(), 0, 0, SRCCOPY);
            return 0;
        }
    }
    return std::nullopt;
}

}  // namespace vantorix::client
