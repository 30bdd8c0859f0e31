#include "launcher/app/update_form.h"

#include <commctrl.h>

#include "common/update_flow/texts.h"
#include "launcher/app/client_start.h"
#include "launcher/app/manifest_source.h"
#include "launcher/app/update_key.h"
#include "launcher/services/archive_check.h"
#include "launcher/services/services.h"
#include "win/message_pump.h"

namespace vantorix::launcher {

namespace {

using update_flow::Control;
namespace text = update_flow::text;

constexpr wchar_t kWindowClass[] = L"VantorixUpdateFrm";
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT_PTR kRetryTimer = 2;  // one-shot: the wait before an automatic download attempt
constexpr UINT kTimerInterval = 500;
constexpr int kCommand1Id = 201;
constexpr int kClientWidth = 420, kClientHeight = 300;
// The progress bar under the status line: the download's percentage, then the unpacking's.
constexpr int kProgressId = 106;
constexpr int kProgressSteps = 1000;

// The form's controls as data: position in the client area, initial text and kind.
struct ControlLayout {
    Control control;
    int id;
    int x, y, width, height;
    const wchar_t* initial;
    bool button;
};
constexpr ControlLayout kLayout[] = {
    {Control::Label1, 101, 20, 16, 380, 20, text::kLabel1, false},
    {Control::Label7, 107, 20, 42, 380, 20, text::kLabel7, false},
    {Control::Label2, 102, 20, 68, 380, 20, text::kLabel2, false},
    {Control::Label3, 103, 20, 94, 380, 20, text::kLabel3, false},
    {Control::Label4, 104, 20, 120, 380, 100, text::kLabel4, false},
    {Control::lblMsg, 105, 20, 230, 270, 46, text::kWaiting, false},
    {Control::Command1, kCommand1Id, 300, 240, 100, 32, text::kUpToDate, true},
};

}  // namespace

UpdateForm::UpdateForm(HINSTANCE instance)
    : instance_(instance), installation_(Installation::OfThisProgram()), registration_(installation_) {
    WNDCLASSEXW wc{sizeof wc};
    wc.lpfnWndProc = &UpdateForm::WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    window_ = CreateWindowExW(0, kWindowClass, text::kCaption, style, x, y, width, height, nullptr, nullptr, instance,
                              this);
    CreateControls();

    // WinHttpDown1's events arrive on this thread, also inside message boxes; nothing may escape them.
    WinHttpDown1.StateChanged = [this](std::int16_t state) {
        try {
            if (state == kDownloadRefused && WinHttpDown1.Oversized()) return flow_.DownloadOversized();
            flow_.DownloadStateChanged(state, WinHttpDown1.LastHttpStatus());
        } catch (...) {
        }
    };
    WinHttpDown1.HttpState = [this](const std::wstring& size, float percent, const std::wstring&, const std::wstring&) {
        try {
            ShowProgress(percent / 100.0);
            flow_.DownloadProgress(size, percent);
        } catch (...) {
        }
    };
}

UpdateForm::~UpdateForm() {
    WinHttpDown1.StateChanged = nullptr;
    WinHttpDown1.HttpState = nullptr;
    if (window_) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

void UpdateForm::CreateControls() {
    // A font that carries the Chinese texts; the face falls back to any GB2312 font the system has.
    font_.reset(CreateFontW(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Microsoft YaHei"));
    for (const auto& c : kLayout) {
        DWORD style = WS_CHILD | WS_VISIBLE | (c.button ? BS_PUSHBUTTON | WS_TABSTOP : SS_LEFT | SS_NOPREFIX);
        HWND control = CreateWindowExW(0, c.button ? L"BUTTON" : L"STATIC", c.initial, style, c.x, c.y, c.width,
                                       c.height, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)),
                                       instance_, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
        controls_[static_cast<int>(c.control)] = control;
    }
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    progress_ = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 20, 280, 270, 10, window_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kProgressId)), instance_, nullptr);
    SendMessageW(progress_, PBM_SETRANGE32, 0, kProgressSteps);
}

void UpdateForm::ShowProgress(double fraction) {
    if (!progress_) return;
    const double clamped = fraction < 0 ? 0 : fraction > 1 ? 1 : fraction;
    SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(clamped * kProgressSteps + 0.5), 0);
}

HWND UpdateForm::ControlWindow(Control control) const { return controls_[static_cast<int>(control)]; }

HWND UpdateForm::MessageOwner() const { return window_ && IsWindowVisible(window_) ? window_ : nullptr; }

void UpdateForm::Load(bool update_mode) { flow_.Load(update_mode); }

LRESULT CALLBACK UpdateForm::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        static_cast<UpdateForm*>(create->lpCreateParams)->window_ = window;
    }
    auto* form = reinterpret_cast<UpdateForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!form) return DefWindowProcW(window, message, wparam, lparam);
    // The one boundary of the form: no failure of a handler leaves the window procedure.
    try {
        return form->Handle(message, wparam, lparam);
    } catch (...) {
        return 0;
    }
}

LRESULT UpdateForm::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_TIMER:
        if (wparam == kTimer1) flow_.Tick();
        if (wparam == kRetryTimer) {
            KillTimer(window_, kRetryTimer);
            flow_.RetryDue();
        }
        return 0;
    case WM_COMMAND:
        if (LOWORD(wparam) == kCommand1Id && HIWORD(wparam) == BN_CLICKED) flow_.ButtonClicked();
        return 0;
    case WM_CLOSE:
        if (flow_.QueryClose()) DestroyWindow(window_);
        return 0;
    case WM_DESTROY:
        KillTimer(window_, kTimer1);
        KillTimer(window_, kRetryTimer);
        timer_on_ = false;
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        window_ = nullptr;
        break;
    case WM_CTLCOLORSTATIC:
        SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    return DefWindowProcW(window_, message, wparam, lparam);
}

bool UpdateForm::FileExists(const std::wstring& relative) { return installation_.Exists(relative); }
bool UpdateForm::ControlFileExists() { return registration_.ControlInstalled(); }
bool UpdateForm::CreateMarker() { return installation_.CreateMarker(); }
void UpdateForm::EnsureUpdateFolder() { installation_.EnsureUpdateFolder(); }

std::wstring UpdateForm::LocalVersion() {
    return services::GetFileVersionText(installation_.Path(update_flow::kClientPath));
}

std::optional<update_flow::ManifestView> UpdateForm::FetchManifest() { return FetchManifestView(installation_.Folder()); }
update_flow::RegistrationStart UpdateForm::StartRegistration() { return registration_.Start(); }
bool UpdateForm::RegistrationRunning() { return registration_.Running(); }
void UpdateForm::StartClient() { launcher::StartClient(installation_); }
void UpdateForm::EndRunningClients() { launcher::EndRunningClients(installation_); }
void UpdateForm::OpenHomePage() { launcher::OpenHomePage(); }
void UpdateForm::ClearStaleArchive(const std::wstring& url) { installation_.ClearStaleArchive(url); }

void UpdateForm::StartDownload(const std::wstring& url, std::optional<std::uint64_t> published_size) {
    WinHttpDown1.FileName = installation_.Path(update_flow::kArchivePath);
    WinHttpDown1.URL = url;
    WinHttpDown1.PublishedSize = published_size;
    WinHttpDown1.GetStart();
}

std::wstring UpdateForm::ArchiveMismatch(const integrity::ExpectedArchive& expected) {
    // Hashing a large archive takes a while: the form keeps answering between blocks.
    ShowProgress(0);
    switch (services::CheckArchive(installation_.Path(update_flow::kArchivePath), expected, BuiltInUpdateKeys(),
                                   [] { win::PumpPendingMessages(); })) {
    case integrity::ArchiveVerdict::Matches: return L"";
    case integrity::ArchiveVerdict::WrongSize: return text::kArchiveWrongSize;
    case integrity::ArchiveVerdict::WrongHash: return text::kArchiveWrongHash;
    case integrity::ArchiveVerdict::MissingSignature: return text::kArchiveNotSigned;
    case integrity::ArchiveVerdict::BadSignature: return text::kArchiveBadSignature;
    case integrity::ArchiveVerdict::Unreadable: break;
    }
    return text::kArchiveUnreadable;
}

update_flow::UnpackResult UpdateForm::UnpackArchive() {
    using services::UnzipStatus;
    // A client the user started again during the download would hold its files.
    launcher::EndRunningClients(installation_);
    ShowProgress(0);
    const auto result = services::UnzipToFolder(
        installation_.Folder() + L"\\", installation_.Path(update_flow::kArchivePath),
        [this](unsigned long long done, unsigned long long total) {
            ShowProgress(total ? static_cast<double>(done) / static_cast<double>(total) : 1.0);
            win::PumpPendingMessages();
        });
    update_flow::UnpackResult unpacked;
    switch (result.status) {
    case UnzipStatus::Ok:
        unpacked.outcome = update_flow::UnpackOutcome::Done;
        return unpacked;
    case UnzipStatus::NoRoom:
        unpacked.outcome = update_flow::UnpackOutcome::NoRoom;
        unpacked.reason = result.entry;  // the bytes needed and free
        return unpacked;
    case UnzipStatus::CannotCreateFolder:
    case UnzipStatus::CannotWriteFile:
        unpacked.outcome = update_flow::UnpackOutcome::WriteFailed;
        break;
    default:
        unpacked.outcome = update_flow::UnpackOutcome::ArchiveRejected;
        break;
    }
    unpacked.reason = services::UnzipStatusText(result.status);
    if (!result.entry.empty()) unpacked.reason += L": " + result.entry;
    return unpacked;
}

void UpdateForm::DeleteArchive() { installation_.DeleteArchive(); }

bool UpdateForm::AskYesNo(const std::wstring& message) {
    HWND owner = MessageOwner();
    return MessageBoxW(owner, message.c_str(), text::kMessageTitle, MB_YESNO | (owner ? 0 : MB_SETFOREGROUND)) ==
           IDYES;
}

void UpdateForm::ShowMessage(const std::wstring& message) {
    HWND owner = MessageOwner();
    MessageBoxW(owner, message.c_str(), text::kMessageTitle, MB_OK | (owner ? 0 : MB_SETFOREGROUND));
}

void UpdateForm::SetText(Control control, const std::wstring& text) {
    SetWindowTextW(ControlWindow(control), text.c_str());
}

void UpdateForm::EnableButton(bool enabled) { EnableWindow(ControlWindow(Control::Command1), enabled); }

void UpdateForm::ShowForm(bool visible) {
    if (!window_) return;
    ShowWindow(window_, visible ? SW_SHOWNORMAL : SW_HIDE);
    if (visible) {
        UpdateWindow(window_);
        SetForegroundWindow(window_);
    }
}

void UpdateForm::SetTimer(bool enabled) {
    if (!window_ || enabled == timer_on_) return;
    timer_on_ = enabled;
    if (enabled)
        ::SetTimer(window_, kTimer1, kTimerInterval, nullptr);
    else
        KillTimer(window_, kTimer1);
}

void UpdateForm::ScheduleRetry(unsigned delay_ms) {
    if (window_) ::SetTimer(window_, kRetryTimer, delay_ms, nullptr);
}

void UpdateForm::CloseForm() {
    if (window_) SendMessageW(window_, WM_CLOSE, 0, 0);
}

}  // namespace vantorix::launcher
