#include "launcher/app/update_form.h"

#include <commctrl.h>

#include "common/update_flow/download_retry.h"
#include "common/update_flow/install_step.h"
#include "common/update_flow/texts.h"
#include "launcher/app/client_start.h"
#include "launcher/app/control_library.h"
#include "launcher/app/delta_install.h"
#include "launcher/app/elevation.h"
#include "launcher/app/manifest_source.h"
#include "launcher/app/service_install.h"
#include "launcher/app/update_install.h"
#include "launcher/app/update_key.h"
#include "launcher/services/archive_check.h"
#include "launcher/services/manifest_verification.h"
#include "launcher/services/process_cost.h"
#include "launcher/services/services.h"
#include "launcher/services/system_random.h"
#include "launcher/services/wide_text.h"
#include "win/diagnostic_log.h"
#include "win/file_exists.h"
#include "win/message_pump.h"
#include "win/process.h"
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
            if (state == kDownloadComplete)
                win::diag::Record(kLogPlace, L"download complete, " + services::ProcessCostText() + L", in the form " +
                                                 services::SecondsText(WinHttpDown1.HostCpuSeconds()) + L" s");
            if (state == kDownloadRefused && WinHttpDown1.Oversized()) return flow_.DownloadOversized();
            flow_.DownloadStateChanged(state, WinHttpDown1.LastHttpStatus(), RetryAfterSeconds());
        } catch (...) {
            win::diag::RecordCurrentException(kLogPlace, L"the download state's handler failed");
        }
    };
    WinHttpDown1.HttpState = [this](const std::wstring& size, float percent, const std::wstring&, const std::wstring&) {
        try {
            ShowProgress(percent / 100.0);
            flow_.DownloadProgress(size, percent);
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
    if (position == progress_position_) return;
    progress_position_ = position;
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
    return win::FileExists(package == update_flow::Package::Delta ? Place().Delta() : Place().Archive());
}

bool UpdateForm::ControlFileExists() { return registration_.ControlInstalled(); }

bool UpdateForm::CreateMarker() {
    if (installation_.CreateMarker()) return true;
    win::diag::RecordLastError(kLogPlace, L"the first-start marker could not be written");
    return false;
}

void UpdateForm::EnsureUpdateFolder() { installation_.EnsureUpdateFolder(); }

const UpdatePlace& UpdateForm::Place() {
    if (!place_) place_ = UpdatePlace::For(installation_);
    return *place_;
}

std::wstring UpdateForm::LocalVersion() {
    return services::GetFileVersionText(installation_.Path(update_flow::kClientPath));
}

std::optional<update_flow::ManifestView> UpdateForm::FetchManifest() {
    return FetchManifestView(installation_.Folder(), &manifest_bytes_);
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
    Place().ClearStaleArchive(url, package == update_flow::Package::Delta);
}

void UpdateForm::StartDownload(const std::wstring& url, std::optional<std::uint64_t> published_size,
                               update_flow::Package package) {
    const UpdatePlace& place = Place();
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

std::wstring UpdateForm::ArchiveMismatch(const integrity::ExpectedArchive& expected) {
    // The launcher that installs itself checks the archive where it installs it from (InstallHere). Before
    // the elevated step is asked for, the user's own copy is checked here: a bad download is refused
    // without a prompt (the step checks its own copy again).
    if (!Place().ElevatedInstall()) return L"";
    return PackageMismatch(Place().Archive(), expected);
}

std::wstring UpdateForm::PackageMismatch(const std::wstring& package, const integrity::ExpectedArchive& expected) {
    // Hashing a large archive takes a while: the form keeps answering between blocks.
    ShowProgress(0);
    const auto verdict =
        services::CheckArchive(package, expected, BuiltInUpdateKeys(), win::PacedPump());
    if (verdict == integrity::ArchiveVerdict::Matches) return L"";
    win::diag::Record(kLogPlace, L"the downloaded archive was refused", static_cast<unsigned long>(verdict));
    switch (verdict) {
    case integrity::ArchiveVerdict::WrongSize: return text::kArchiveWrongSize;
    case integrity::ArchiveVerdict::WrongHash: return text::kArchiveWrongHash;
    case integrity::ArchiveVerdict::MissingSignature: return text::kArchiveNotSigned;
    case integrity::ArchiveVerdict::BadSignature: return text::kArchiveBadSignature;
    default: return text::kArchiveUnreadable;
    }
}

update_flow::UnpackResult UpdateForm::UnpackArchive(const integrity::ExpectedArchive& expected) {
    // A client the user started again during the download would hold its files.
    launcher::EndRunningClients(installation_);
    // Hashing and unpacking a large archive take a while: the form keeps answering between blocks.
    ShowProgress(0);
    const update_flow::UnpackResult result =
        Place().ElevatedInstall() ? InstallElevated(Place().Archive(), false) : InstallHere(expected);
    win::diag::Record(kLogPlace, L"install outcome, " + services::ProcessCostText(), static_cast<unsigned long>(result.outcome));
    return result;
}

update_flow::UnpackResult UpdateForm::InstallHere(const integrity::ExpectedArchive& expected) {
    const InstallOutcome installed = InstallDownloadedArchive(
        installation_.Folder(), Place().Archive(), expected, BuiltInUpdateKeys(), win::PacedPump(),
        [this](unsigned long long done, unsigned long long total) { ShowApplyProgress(done, total); });
    update_flow::UnpackResult result = update_flow::OutcomeOfInstallStep(static_cast<unsigned long>(installed.exit));
    if (!installed.reason.empty()) result.reason = installed.reason;
    if (installed.exit == update_flow::StepExit::Done && CarriesEngineOrControlLibrary(installed.committed))
        PutEngineAndLibraryInPlace();
    return result;
}

void UpdateForm::ShowApplyProgress(unsigned long long done, unsigned long long total) {
    ShowProgress(total ? static_cast<double>(done) / static_cast<double>(total) : 1.0);
    apply_pump_();
}

update_flow::UnpackResult UpdateForm::ApplyDelta(const integrity::ExpectedArchive& expected) {
    launcher::EndRunningClients(installation_);
    ShowProgress(0);
    update_flow::UnpackResult result;
    if (Place().ElevatedInstall()) {
        // The user's copy is checked before the prompt, as the archive is, and built once from the installed
        // files: a delta that cannot apply goes to the full archive without a prompt of its own. The step
        // checks and builds its own copy again.
        std::wstring why = PackageMismatch(Place().Delta(), expected);
        if (why.empty())
            why = DeltaWouldNotApply(installation_.Folder(), Place().Delta(), Place().Folder() + L"\\delta-check",
                                     [this](uint64_t done, uint64_t total) { ShowApplyProgress(done, total); });
        result = why.empty() ? InstallElevated(Place().Delta(), true)
                             : update_flow::UnpackResult{update_flow::UnpackOutcome::DeltaRefused, why};
    } else {
        const InstallOutcome applied = InstallDownloadedDelta(
            installation_.Folder(), Place().Delta(), expected, BuiltInUpdateKeys(), win::PacedPump(),
            [this](uint64_t done, uint64_t total) { ShowApplyProgress(done, total); });
        result = update_flow::OutcomeOfInstallStep(static_cast<unsigned long>(applied.exit));
        if (!applied.reason.empty()) result.reason = applied.reason;
        if (applied.exit == update_flow::StepExit::Done && CarriesEngineOrControlLibrary(applied.committed))
            PutEngineAndLibraryInPlace();
    }
    win::diag::Record(kLogPlace, L"delta install outcome", static_cast<unsigned long>(result.outcome));
    return result;
}

void UpdateForm::AbandonDelta(const std::wstring& reason) {
    win::diag::Record(kLogPlace, L"falling back to the full archive: " + reason);
    Place().DeleteDelta();
}

// The new engine or control library goes where the client loads it from. Where this process may not write
// the system folder (the installation is the user's own, the system's is not), the elevated "-register"
// step does it; a refusal leaves the engine in use as it was until the next update.
void UpdateForm::PutEngineAndLibraryInPlace() {
    const LibraryInstall library = InstallControlLibrary(installation_.Folder());
    if (library.exit == update_flow::StepExit::Done || library.code != ERROR_ACCESS_DENIED) return;
    const ElevatedRun run = RunElevated(installation_.Path(L"\\VantorixAssist.exe"), update_flow::kRegisterArgument, window_);
    if (run.status != ElevationStatus::Started || run.exit_code != 0)
        win::diag::Record(kLogPlace, L"the new engine and control library are not in use yet", run.exit_code);
}

update_flow::UnpackResult UpdateForm::InstallElevated(const std::wstring& package, bool delta) {
    const UpdatePlace& place = Place();
    // The step reads the manifest exactly as this launcher fetched it and judges it itself.
    {
        win::unique_hfile copy(
            CreateFileW(place.ManifestCopy().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!copy || !WriteFile(copy.get(), manifest_bytes_.data(), static_cast<DWORD>(manifest_bytes_.size()), &written,
                                nullptr) ||
            written != manifest_bytes_.size()) {
            win::diag::RecordLastError(kLogPlace, L"the manifest copy for the elevated step could not be written");
            return {update_flow::UnpackOutcome::WriteFailed, text::kStepFailedCode + std::to_wstring(GetLastError())};
        }
    }
    std::vector<std::wstring> step = {update_flow::kInstallUpdateArgument, package, place.ManifestCopy()};
    if (delta) step.push_back(update_flow::kDeltaFlag);
    // The installation's maintenance service installs without a prompt where the setup put one and this user
    // may start it; its refusal is final for this update.
    if (const auto code = InstallThroughService(installation_.Folder(), step)) {
        service_answered_ = true;
        return update_flow::OutcomeOfInstallStep(*code);
    }
    if (service_answered_) {
        win::diag::Record(kLogPlace, L"the maintenance service is gone since it answered: no prompt in this run");
        return {update_flow::UnpackOutcome::WriteFailed,
                text::kStepFailedCode + std::to_wstring(static_cast<int>(update_flow::StepExit::ServiceRefused))};
    }
    const std::wstring parameters = std::wstring(update_flow::kInstallUpdateArgument) + L" " +
                                    win::QuoteArgument(package) + L" " + win::QuoteArgument(place.ManifestCopy()) +
                                    (delta ? std::wstring(L" ") + update_flow::kDeltaFlag : std::wstring());
    const ElevatedRun run = RunElevated(installation_.Path(L"\\VantorixAssist.exe"), parameters, window_);
    switch (run.status) {
    case ElevationStatus::Declined: return {update_flow::UnpackOutcome::ElevationDeclined, L""};
    case ElevationStatus::Failed:
        return {update_flow::UnpackOutcome::WriteFailed, text::kStepFailedCode + std::to_wstring(run.error)};
    case ElevationStatus::Started: break;
    }
    return update_flow::OutcomeOfInstallStep(run.exit_code);
}

void UpdateForm::DeleteArchive() { Place().DeleteArchive(); }

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
