#pragma once
// Windowdc: the screen colour picker. A small tool window that, while sampling, reads the pixel under the
// pointer every 50 ms, shows it as a swatch and as "r,g,b", "#RRGGBB" and a decimal value, and shows the
// 15 x 15 pixels around the pointer magnified; a press in the magnifier picks the colour under it. CTRL+ALT+D
// starts and stops sampling while the picker is open.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "common/window/color.h"
#include "common/window/monitor_fit.h"
#include "win/unique_handle.h"
#include "win/window_subclass.h"

namespace vantorix::client {

class Windowdc {
public:
    static constexpr const wchar_t* kCaption = L"Vantorix屏幕取色器测试版 1.0.0";
    static constexpr const wchar_t* kWindowClass = L"VantorixWindowdc";
    static constexpr const wchar_t* kPictureClass = L"VantorixWindowdcPicture";
    static constexpr int kClientWidth = 497, kClientHeight = 185;
    static constexpr int kPictureSize = 65;       // the magnifier box
    static constexpr int kMagnifiedSize = 73;     // the 15 x 15 square stretched to this
    static constexpr int kSampleSize = 15;
    static constexpr int kSampleOffset = 4;       // the pointer's pixel is the fifth from left and top
    static constexpr UINT kTickMs = 50;
    static constexpr int kHotKeyId = 1;
    static constexpr UINT kHotKeyModifiers = MOD_ALT | MOD_CONTROL;  // 3
    static constexpr UINT kHotKeyKey = 'D';                           // 68

    enum ControlId : int {
        kPicture1 = 101, kLabel1, kCommand1, kCheck1, kFrame1, kText1, kText2, kText3, kLabel5,
        kLabelRgb, kLabelHex, kLabelDec, kFrameBorder,
    };

    // Where the pointer is, in the screen device context's pixels (the sampling reads that point).
    using PointerSource = std::function<POINT()>;

    // The work area of the monitor a window is on (the picker opens centred in the main form's).
    using WorkAreaSource = std::function<window::Edges(HWND)>;

    // The main form gives the picker its icon and the monitor it opens on; `pointer` is the system's
    // pointer in physical pixels and `work_area` the system's monitor lookup unless a test gives others.
    explicit Windowdc(HWND main_form, PointerSource pointer = nullptr, WorkAreaSource work_area = nullptr);
    ~Windowdc();
    Windowdc(const Windowdc&) = delete;
    Windowdc& operator=(const Windowdc&) = delete;

    // "windowdc": opens the picker, or only shows and activates the open one.
    void ShowOrActivate();
    // Closes the picker (unregisters the hot key, stops sampling). Nothing when it is closed.
    void Close();
    // The message loop's dialog keys for the open picker (Tab and Shift+Tab between its controls, Esc
    // closes it). True when the message was one of them and has been handled.
    bool HandleDialogKey(MSG& message);

    bool IsOpen() const { return window_ != nullptr; }
    HWND window() const { return window_; }
    HWND control(ControlId id) const { return window_ ? GetDlgItem(window_, id) : nullptr; }
    bool Sampling() const { return sampling_; }
    int dpi() const { return dpi_; }  // the scale the picker is laid out at

    // One sample (the timer's work), and a press in the magnifier at a point in its own coordinates.
    void Tick();
    void PickAt(POINT in_picture);
    // The Command1 click: start or stop sampling.
    void ToggleSampling();

private:
    std::optional<LRESULT> Handle(UINT message, WPARAM wparam, LPARAM lparam);
    std::optional<LRESULT> HandlePicture(HWND picture, UINT message, LPARAM lparam);
    void CreateControls();
    // Places the controls and makes the magnifier's surface for the picker's current scale.
    void LayOut();
    void MakeMagnifierSurface();
    void ReleaseMagnifierSurface();
    int Scaled(int design_pixels) const;
    void ApplyTopmost();
    void ShowColor(COLORREF value);
    void SetText(ControlId id, const std::wstring& text);

    HWND main_form_;
    PointerSource pointer_;
    WorkAreaSource work_area_;
    HWND window_ = nullptr;
    int dpi_ = 96;
    bool sampling_ = false;
    // The magnified image, kept so that it can be repainted and picked from after sampling stops.
    win::unique_memory_dc magnifier_dc_;
    win::unique_gdi_object magnifier_bitmap_;
    win::unique_selection magnifier_selection_;  // the bitmap in the DC; its old one put back first
    HWND last_focus_ = nullptr;  // the control that had the focus when the picker was last deactivated
    win::unique_gdi_object swatch_brush_;
    std::optional<window::Rgb> color_;
    win::WindowSubclass window_subclass_{L"Windowdc", [this](HWND, UINT m, WPARAM w, LPARAM l) { return Handle(m, w, l); }};
    win::WindowSubclass picture_subclass_{L"Windowdc.Picture1",
                                          [this](HWND p, UINT m, WPARAM, LPARAM l) { return HandlePicture(p, m, l); }};
};

}  // namespace vantorix::client
