#include "launcher/app/update_form.h"

#include <commctrl.h>

#include "common/update_flow/download_retry.h"
#include "common/update_flow/texts.h"
#include "launcher/app/client_start.h"
#include "launcher/app/manifest_source.h"
#include "launcher/services/manifest_verification.h"
#include "launcher/services/process_cost.h"
#include "launcher/services/services.h"
#include "launcher/services/system_random.h"
#include "launcher/services/wide_text.h"
#include "win/diagnostic_log.h"
#include "win/file_exists.h"
#include "win/message_pump.h"
#include "win/window_class.h"

namespace vantorix::launcher {

namespace {

using update_flow::Control;
namespace text = update_flow::text;

constexpr wchar_t kLogPlace[] = L"update";
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT_PTR kRetryTimer = 2;  // one-shot: the wait before an automatic download attempt
constexpr UINT kTimerInterval = 500;
constexpr int kCommand1Id = 201;
constexpr int kClientWidth = 420, kClientHeight = 300;
// The progress bar under the status line: the download's percentage, then the unpacking's.
constexpr int kProgressId = 106;
// Whole percentages: the bar moves (and repaints) at most 101 times a download or an install.
constexpr int kProgressSteps = 100;

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
    WNDCLASSEXW wc{};
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = UpdateForm::kWindowClass;
    FormClass::Register(L"UpdateForm", wc);

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    window_ = CreateWindowExW(0, UpdateForm::kWindowClass, text::kCaption, style, x, y, width, height, nullptr, nullptr, instance,
                              this);
    CreateControls();

    // WinHttpDown1's events arrive on this thread, also inside message boxes; nothing may escape them.
    WinHttpDown1.StateChanged = [this](std::int16_t state) {
        try {
            if (state == kDownloadAborted || state == kDownloadRefused || state == kDownloadSendFailed ||
                state == kDownloadSavePathError)
                win::diag::Record(kLogPlace, L"download failed in state " + std::to_wstring(state) +
                                                 (WinHttpDown1.Oversized() ? L", larger than published" : L"") +
                                                 (WinHttpDown1.NotTheFile().empty() ? L"" : L", not the published file: " +
                                                  services::Wide(WinHttpDown1.NotTheFile())),
                                  static_cast<unsigned long>(WinHttpDown1.LastHttpStatus()));
            if (!WinHttpDown1.LastRetryAfter().empty())
                win::diag::Record(kLogPlace, L"the server asks to retry after " + services::Wide(WinHttpDown1.LastRetryAfter()));
            // Cost lines for the benchmark's breakdown: up to the answer (proxy choice, connection, request),
            // then the receive loop with the form's share in it.
            if (state == kDownloadHeaders) win::diag::Record(kLogPlace, L"download answered, " + services::ProcessCostText());
            if (state == kDownloadComplete) {
                const WinHttpDown::HostCost form = WinHttpDown1.Cost();
                win::diag::Record(kLogPlace, L"download complete, " + services::ProcessCostText() + L", in the form " +
                                                 services::SecondsText(form.handler_seconds + form.messages_seconds) +
                                                 L" s (progress handler " + services::SecondsText(form.handler_seconds) +
                                                 L" s, messages " + services::SecondsText(form.messages_seconds) + L" s), " +
                                                 std::to_wstring(form.blocks) + L" blocks");
            }
            if (state == kDownloadRefused && WinHttpDown1.Oversized()) return flow_.DownloadOversized();
            flow_.DownloadStateChanged(state, WinHttpDown1.LastHttpStatus(), RetryAfterSeconds());
        } catch (...) {
            win::diag::RecordCurrentException(kLogPlace, L"the download state's handler failed");
        }
    };
    WinHttpDown1.HttpState = [this](const std::wstring& size, float percent, const std::wstring&, const std::wstring&) {
        try {
            ShowProgress(percent / 100.0);
            flow_.DownloadProgress(size, percent, GetTickCount64());
        } catch (...) {
            win::diag::RecordCurrentException(kLogPlace, L"the download progress's handler failed");
        }
    };
}

UpdateForm::~UpdateForm() {
    WinHttpDown1.StateChanged = nullptr;
    WinHttpDown1.HttpState = nullptr;
    if (window_) {
        FormClass::Detach(window_);
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
    // Truncated: the bar is full only when the work is.
    const int position = static_cast<int>(clamped * kProgressSteps);
    // Each move repaints the bar at once: paced like the status line (progress_pace.h).
    if (!bar_pace_.Due(position, GetTickCount64())) return;
    SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

HWND UpdateForm::ControlWindow(Control control) const { return controls_[static_cast<int>(control)]; }

HWND UpdateForm::MessageOwner() const { return window_ && IsWindowVisible(window_) ? window_ : nullptr; }

void UpdateForm::Load(bool update_mode) { flow_.Load(update_mode); }

LRESULT UpdateForm::Dispatch(UpdateForm& form, HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) form.window_ = window;
    return form.Handle(message, wparam, lparam);
}

void UpdateForm::SetInstanceClaim(win::InstanceClaim* claim) {
    claim_ = claim;
    if (claim_ && window_) claim_->Publish(window_);
}

// A later start of this installation's launcher: the form comes to the front when it is shown; a hidden
// launcher that is still in its ticks remembers a request for the form.
void UpdateForm::BringForward(WPARAM request) {
    if (request == kShowFormRequest) flow_.UpdateRequested();
    if (!window_ || !IsWindowVisible(window_)) return;
    if (IsIconic(window_)) ShowWindow(window_, SW_RESTORE);
    SetForegroundWindow(window_);
}

LRESULT UpdateForm::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case win::InstanceClaim::kClaimQuery:
        return claim_ && claim_->claimed() ? win::InstanceClaim::kClaimAnswer : 0;
    case win::InstanceClaim::kBringBackMessage:
        BringForward(wparam);
        return 0;
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

bool UpdateForm::ClientExists() { return installation_.Exists(update_flow::kClientPath); }

// The marker and the package may live in the user's folder (update_place.h, installation.h).
bool UpdateForm::MarkerExists() { return installation_.MarkerExists(); }

bool UpdateForm::DownloadedPackageExists(update_flow::Package package) {
    return win::FileExists(package == update_flow::Package::Delta ? installer_.Place().Delta() : installer_.Place().Archive());
}

bool UpdateForm::ControlFileExists() { return registration_.ControlInstalled(); }

bool UpdateForm::CreateMarker() {
    if (installation_.CreateMarker()) return true;
    win::diag::RecordLastError(kLogPlace, L"the first-start marker could not be written");
    return false;
}

void UpdateForm::EnsureUpdateFolder() { installation_.EnsureUpdateFolder(); }

std::wstring UpdateForm::LocalVersion() {
    return services::GetFileVersionText(installation_.Path(update_flow::kClientPath));
}

std::optional<update_flow::ManifestView> UpdateForm::FetchManifest() {
    return FetchManifestView(installation_.Folder(), installer_.ManifestBytes());
}

update_flow::RegistrationStart UpdateForm::StartRegistration() {
    const auto started = registration_.Start();
    win::diag::Record(kLogPlace, started == update_flow::RegistrationStart::Started    ? L"registration started"
                                 : started == update_flow::RegistrationStart::Declined ? L"registration declined"
                                                                                       : L"registration not started");
    return started;
}

bool UpdateForm::RegistrationRunning() { return registration_.Running(); }

void UpdateForm::StartClient() {
    // As the user, never elevated: this process runs with the user's rights (asInvoker).
    if (launcher::StartClient(installation_))
        win::diag::Record(kLogPlace, L"client started");
    else
        win::diag::RecordLastError(kLogPlace, L"the client could not be started");
}

void UpdateForm::EndRunningClients() { launcher::EndRunningClients(installation_); }
void UpdateForm::OpenHomePage() { launcher::OpenHomePage(); }
void UpdateForm::ClearStaleArchive(const std::wstring& url, update_flow::Package package) {
    installer_.Place().ClearStaleArchive(url, package == update_flow::Package::Delta);
}

void UpdateForm::StartDownload(const std::wstring& url, std::optional<std::uint64_t> published_size,
                               update_flow::Package package) {
    const UpdatePlace& place = installer_.Place();
    const bool delta = package == update_flow::Package::Delta;
    place.Prepare();
    win::diag::Record(kLogPlace, std::wstring(delta ? L"delta" : L"full archive") +
                                     (place.ElevatedInstall() ? L" download started into the user's folder, "
                                                              : L" download started into the installation, ") +
                                     services::ProcessCostText());
    WinHttpDown1.FileName = delta ? place.Delta() : place.Archive();
    WinHttpDown1.URL = url;
    WinHttpDown1.PublishedSize = published_size;
    WinHttpDown1.GetStart();
}

std::wstring UpdateForm::ArchiveMismatch(const integrity::ExpectedArchive& expected) { return installer_.ArchiveMismatch(expected); }
update_flow::UnpackResult UpdateForm::UnpackArchive(const integrity::ExpectedArchive& expected) {
    return installer_.UnpackArchive(expected);
}
update_flow::UnpackResult UpdateForm::ApplyDelta(const integrity::ExpectedArchive& expected) { return installer_.ApplyDelta(expected); }
void UpdateForm::AbandonDelta(const std::wstring& reason) { installer_.AbandonDelta(reason); }
void UpdateForm::DeleteArchive() { installer_.Place().DeleteArchive(); }
HWND UpdateForm::PromptOwner() { return window_; }

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
    win::diag::Record(kLogPlace, L"next attempt in " + std::to_wstring(delay_ms) + L" ms");
    if (window_) ::SetTimer(window_, kRetryTimer, delay_ms, nullptr);
}

double UpdateForm::RetryJitter() { return services::SystemRandomFraction(); }

// One line per transition ("flow: offered -> downloading (update-started)"): the order in which the form
// went through its states, for support and for the scripted user of the end-to-end tests.
void UpdateForm::RecordTransition(const std::wstring& line) { win::diag::Record(L"flow", line); }

std::optional<std::uint64_t> UpdateForm::RetryAfterSeconds() const {
    const std::string after = WinHttpDown1.LastRetryAfter();
    if (after.empty()) return std::nullopt;
    return update_flow::RetryAfterSeconds(after, WinHttpDown1.LastDate(), services::UnixTimeNow());
}

void UpdateForm::CloseForm() {
    if (window_) SendMessageW(window_, WM_CLOSE, 0, 0);
}

}  // namespace vantorix::launcher
