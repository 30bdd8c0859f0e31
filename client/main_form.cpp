#include "client/main_form.h"

#include <random>
#include <stdexcept>

#include "client/app_paths.h"
#include "client/dpi.h"
#include "client/links.h"
#include "client/maker_links.h"
#include "client/muen_frm.h"
#include "client/overme.h"
#include "common/window/dpi.h"
#include "common/window/monitor_fit.h"
#include "common/window/page_address.h"
#include "client/setwindow.h"
#include "client/windowdc.h"
#include "win/window_class.h"
#include "win/window_subclass.h"

namespace vantorix::client {

MainForm::MainForm(Parts parts) : parts_(std::move(parts)) {}

MainForm::~MainForm() {
    // Only the shutdown routine ends the client; an owner going away (as in a test) just takes the window.
    if (window_) {
        FormClass::Detach(window_);
        DestroyWindow(window_);
    }
}

bool MainForm::Create() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    icon_big_.reset(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kProgramIconId), IMAGE_ICON, 128, 128, 0)));
    icon_small_.reset(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kProgramIconId), IMAGE_ICON,
                                                    GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0)));
    static const bool registered = [instance] {
        WNDCLASSEXW wc{};
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = kWindowClass;
        return FormClass::Register(L"MainForm", wc);
    }();
    (void)registered;  // CreateWindowEx below fails without the class
    // Borderless: no frame, no caption bar; the client area is the design size at the primary monitor's
    // scale, no larger than its work area. Centred on it.
    MONITORINFO primary{};
    primary.cbSize = sizeof primary;
    HMONITOR monitor = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    GetMonitorInfoW(monitor, &primary);
    const RECT& work = primary.rcWork;
    const window::PixelRect place = window::OpeningPlace(kDesignWidth, kDesignHeight, MonitorDpi(monitor),
                                                         {work.left, work.top, work.right, work.bottom});
    window_ = CreateWindowExW(WS_EX_APPWINDOW, kWindowClass, maker::kProgramTitle,
                              WS_POPUP | WS_CLIPCHILDREN | WS_MINIMIZEBOX | WS_SYSMENU, place.left, place.top,
                              place.width, place.height, nullptr, nullptr, instance, this);
    if (!window_) return false;
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_big_.get()));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_small_ ? icon_small_.get() : icon_big_.get()));
    tray_ = std::make_unique<Tray>(window_);
    tray_->on_click = [this] { BringBack(); };
    tray_->on_popup_menu = [this] {
        POINT p{};
        GetCursorPos(&p);
        if (parts_.menu) parts_.menu->PopupAt(p);
    };
    return true;
}

void MainForm::Fail(const wchar_t* message) {
    MessageBoxW(nullptr, message, maker::kProgramTitle, MB_OK);
    overme::Shutdown();
}

void MainForm::Load(const std::wstring& argument_text) {
    if (argument_text != kLaunchToken) Fail(kCannotStart);
    if (parts_.one_instance) {
        // Claimed only after the token check, so that a start without it never stands in a real one's way.
        instance_ = std::make_unique<InstanceClaim>(L"VantorixClient", parts_.app_folder, kWindowClass);
        // Before the tray icon: a second start leaves no second icon.
        if (instance_->HandOver()) overme::Shutdown();
    }
    tray_->Show();  // before the skin check: a missing skin shows the icon while its message is up
    const window::SizeLimits limits = MonitorLimits();
    setwindow::InstallSizeLimits(window_, limits.min_width, limits.min_height, limits.max_width, limits.max_height);
    if (parts_.make_receiver) mb_callback_ = parts_.make_receiver();
    // Without its receiver the client cannot show the page (the control library is missing or not
    // registered): the installation is incomplete.
    if (!mb_callback_) Fail(kIntegrityMissing);
    mb_callback_->Advise(this);
    if (!IsNormalFile(parts_.app_folder + kSkinFile)) Fail(kIntegrityMissing);
    if (instance_) instance_->Publish(window_);  // from now on a second start brings this window back
}

void MainForm::Show(int show_command) {
    ShowWindow(window_, show_command);
    SetForegroundWindow(window_);
}

void MainForm::BringBack() {
    // Hidden by "shrinkmize", minimised by the page or started minimised by the launcher: SW_SHOW alone
    // would leave a minimised window minimised.
    ShowWindow(window_, IsIconic(window_) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(window_);
    // The press on the tray icon also activates the tray's own window, and that activation may arrive
    // after ours: the window claims the front again until the button is up and it is in front, for a
    // few seconds at most.
    front_claims_left_ = kFrontClaims;
    SetTimer(window_, kFrontClaimTimer, kFrontClaimIntervalMs, nullptr);
}

void MainForm::ClaimFront() {
    const bool button_down = (GetAsyncKeyState(GetSystemMetrics(SM_SWAPBUTTON) ? VK_RBUTTON : VK_LBUTTON) & 0x8000) != 0;
    const bool in_front = GetForegroundWindow() == window_;
    if ((!button_down && in_front) || --front_claims_left_ <= 0 || IsIconic(window_) || !IsWindowVisible(window_)) {
        KillTimer(window_, kFrontClaimTimer);
        return;
    }
    if (!in_front) SetForegroundWindow(window_);
}

void MainForm::Destroy() {
    if (window_) {
        HWND window = window_;
        DestroyWindow(window);
    }
}

EngineApi& MainForm::engine() {
    if (!engine_ && parts_.make_engine) engine_ = parts_.make_engine();
    if (!engine_) throw std::runtime_error("the engine function table cannot be created");
    return *engine_;
}

void MainForm::SetupWebView() {
    web_view_set_up_ = true;  // later activations repeat nothing, also after a failed step
    EngineApi& api = engine();
    api.InitializeEx(0);
    api.JsBindFunction(L"onJsCall", mb_callback_->NativeFunctionAddress(), 0, 2);
    // The launcher starts the client minimised, so the first activation may come while it is: the web
    // window gets the size the page will be seen at.
    web_view_size_ = RestoredInnerSize();
    web_view_ = api.CreateWebWindow(kWebWindowType, window_, 0, 0, web_view_size_.cx + kWebWindowExtraWidth,
                                    web_view_size_.cy);
    api.ShowWindow(web_view_, true);
    api.OnLoadUrlBegin(web_view_, mb_callback_->LoadUrlBeginAddress(), 0);
    api.OnCreateView(web_view_, mb_callback_->CreateViewAddress(), 0);
    api.OnDownload(web_view_, mb_callback_->DownloadAddress(), 0);
    // The random query keeps the engine from serving a cached copy of the skin.
    static std::minstd_rand random(GetTickCount() ^ GetCurrentProcessId());
    const float query = std::uniform_real_distribution<float>(0.0f, 1.0f)(random);
    api.LoadFileW(web_view_, window::PageAddress(parts_.app_folder, kSkinPage, query));
}

SIZE MainForm::RestoredInnerSize() const {
    if (!IsIconic(window_)) {
        RECT inner{};
        GetClientRect(window_, &inner);
        return {inner.right, inner.bottom};
    }
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    GetWindowPlacement(window_, &placement);
    RECT frame{0, 0, 0, 0};  // what the window's frame adds around its inner area (nothing when borderless)
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(window_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(window_, GWL_EXSTYLE)));
    const RECT& normal = placement.rcNormalPosition;
    return {(normal.right - normal.left) - (frame.right - frame.left),
            (normal.bottom - normal.top) - (frame.bottom - frame.top)};
}

window::SizeLimits MainForm::MonitorLimits() const {
    return window::LimitsOnMonitor(kDesignWidth, kDesignHeight, WindowDpi(window_), setwindow::MonitorArea(window_),
                                   setwindow::MonitorWorkArea(window_));
}

void MainForm::FollowMonitor() {
    const window::SizeLimits limits = MonitorLimits();
    setwindow::UpdateSizeLimits(limits.min_width, limits.min_height, limits.max_width, limits.max_height);
}

bool MainForm::FocusPage() {
    // The engine's web window is the main window's one child.
    HWND page = GetWindow(window_, GW_CHILD);
    if (!page) return false;
    SetFocus(page);
    return true;
}

void MainForm::ResizeWebView() {
    if (web_view_ == 0) return;
    // Minimising leaves the page as it is; a restore to the same size has nothing to move.
    if (IsIconic(window_)) return;
    const SIZE size = RestoredInnerSize();
    if (size.cx == web_view_size_.cx && size.cy == web_view_size_.cy) return;
    web_view_size_ = size;
    engine().MoveWindow(web_view_, 0, 0, size.cx + kWebWindowExtraWidth, size.cy);
}

// ---- page commands -------------------------------------------------------------------------------------------

void MainForm::Maximize() { setwindow::Mmaximize(window_, restore_bounds_); }
void MainForm::Minimize() { ShowWindow(window_, SW_MINIMIZE); }
void MainForm::MouseDown(const std::wstring& zone) { setwindow::StartEdgeResize(window_, zone); }
void MainForm::Move() { setwindow::StartDrag(window_); }
void MainForm::Close() { overme::Shutdown(); }
void MainForm::OpenServiceChat() { OpenLink(maker::kServiceChat); }
void MainForm::ShowColourPicker() {
    if (parts_.picker) parts_.picker->ShowOrActivate();
}
void MainForm::UpdateMe() { StartLauncherForUpdate(parts_.app_folder, window_); }
void MainForm::OpenUserGroup() { OpenLink(maker::kUserGroup); }
void MainForm::HideToTray() { ShowWindow(window_, SW_HIDE); }

// ---- engine notifications ------------------------------------------------------------------------------------

void MainForm::OnJsNativeFunction(JsExecState es, std::int32_t) { HandlePageCall(engine(), es, *this); }

void MainForm::OnCreateView(WebView view, std::int32_t, std::int32_t, const std::wstring&) {
    // Every page that asks for a new window opens in this one.
    mb_callback_->SetReturnCreateView(view);
}

void MainForm::OnDownload(WebView, std::int32_t param, const std::wstring&) {
    engine().RunJS(web_view_, L"return alert('" + std::to_wstring(param) + L"');");
}

void MainForm::OnLoadUrlBegin(WebView, std::int32_t, const std::wstring&, std::int32_t) {
    // Every request proceeds unchanged.
}

// ---- window procedure ----------------------------------------------------------------------------------------

// An engine step that failed stops at the class's boundary: the user sees nothing, the log keeps why.
LRESULT MainForm::Dispatch(MainForm& self, HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (!self.window_) self.window_ = window;
    return self.Handle(message, wparam, lparam);
}

LRESULT MainForm::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case InstanceClaim::kBringBackMessage:
            BringBack();
            return 0;
        case InstanceClaim::kClaimQuery:
            // Only the client that holds the claim answers (not one that is still checking its start).
            return instance_ && instance_->claimed() ? InstanceClaim::kClaimAnswer : 0;
        case WM_TIMER:
            if (wparam != kFrontClaimTimer) break;
            ClaimFront();
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wparam) == WA_INACTIVE) break;
            if (!web_view_set_up_) SetupWebView();
            // The page takes the keys: after Alt+Tab or a restore from the tray typing goes on at once.
            if (HIWORD(wparam) == 0 && FocusPage()) return 0;
            break;
        case WM_SETFOCUS:
            FocusPage();
            return 0;
        case WM_SIZE:
            if (wparam != SIZE_MINIMIZED) ResizeWebView();
            break;
        case WM_DPICHANGED: {
            // Moved to a monitor of another scale: the size the system suggests keeps the window's size
            // in inches.
            const RECT& suggested = *reinterpret_cast<const RECT*>(lparam);
            SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                         suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
            FollowMonitor();
            return 0;
        }
        case WM_DISPLAYCHANGE:  // a resolution or monitor layout change
        case WM_EXITSIZEMOVE:   // a move may have ended on another monitor
            FollowMonitor();
            break;
        case WM_CLOSE:
            // The page's "close", Alt+F4 and a close message from the system all leave through one routine.
            overme::Shutdown();
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            if (wparam) overme::Shutdown();
            return 0;
        case WM_DESTROY: {
            HWND window = window_;
            window_ = nullptr;
            FormClass::Detach(window);
            // Destroyed by anything but the shutdown routine: leave no process without its window.
            if (!overme::InProgress()) overme::Shutdown();
            return 0;
        }
    }
    return DefWindowProcW(window_, message, wparam, lparam);
}

}  // namespace vantorix::client
