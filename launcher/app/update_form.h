#pragma once
// UpdateFrm, the launcher's one window (caption "检查更新"): six text lines, the one button whose text is
// the form's state, the downloader WinHttpDown1 and the 500 ms Timer1. It carries out what the update
// flow decides: files, processes, message boxes and its own controls; the install itself is its
// UpdateInstaller's (update_installer.h).
#include <windows.h>

#include <optional>
#include <string>

#include "common/update_flow/update_flow.h"
#include "launcher/app/installation.h"
#include "launcher/app/registration.h"
#include "launcher/app/update_installer.h"
#include "launcher/app/update_place.h"
#include "launcher/download/WinHttpDown.h"
#include "win/instance_claim.h"
#include "win/message_pump.h"
#include "win/unique_handle.h"
#include "win/window_class.h"

namespace vantorix::launcher {

class UpdateForm final : public update_flow::FlowHost, private InstallWindow {
public:
    static constexpr wchar_t kWindowClass[] = L"VantorixUpdateFrm";
    // What a later start of the launcher asks with win::InstanceClaim::kBringBackMessage: it came with
    // "-update", so the user wants the form.
    static constexpr WPARAM kShowFormRequest = 1;

    explicit UpdateForm(HINSTANCE instance);
    ~UpdateForm() override;
    UpdateForm(const UpdateForm&) = delete;
    UpdateForm& operator=(const UpdateForm&) = delete;

    // Form load: "-update" shows the form at once, anything else starts hidden with the ticks.
    void Load(bool update_mode);
    HWND Window() const { return window_; }
    // The launcher's claim on its installation: its window is made known, and it answers later starts.
    void SetInstanceClaim(win::InstanceClaim* claim);

    // FlowHost
    bool ClientExists() override;
    bool MarkerExists() override;
    bool DownloadedPackageExists(update_flow::Package package) override;
    bool ControlFileExists() override;
    bool CreateMarker() override;
    void EnsureUpdateFolder() override;
    std::wstring LocalVersion() override;
    std::optional<update_flow::ManifestView> FetchManifest() override;
    update_flow::RegistrationStart StartRegistration() override;
    bool RegistrationRunning() override;
    void StartClient() override;
    void EndRunningClients() override;
    void OpenHomePage() override;
    void ClearStaleArchive(const std::wstring& url, update_flow::Package package) override;
    void StartDownload(const std::wstring& url, std::optional<std::uint64_t> published_size,
                       update_flow::Package package) override;
    std::wstring ArchiveMismatch(const integrity::ExpectedArchive& expected) override;
    update_flow::UnpackResult UnpackArchive(const integrity::ExpectedArchive& expected) override;
    void DeleteArchive() override;
    update_flow::UnpackResult ApplyDelta(const integrity::ExpectedArchive& expected) override;
    void AbandonDelta(const std::wstring& reason) override;
    bool AskYesNo(const std::wstring& text) override;
    void ShowMessage(const std::wstring& text) override;
    void SetText(update_flow::Control control, const std::wstring& text) override;
    void EnableButton(bool enabled) override;
    void ShowForm(bool visible) override;
    void SetTimer(bool enabled) override;
    void CloseForm() override;
    void ScheduleRetry(unsigned delay_ms) override;
    double RetryJitter() override;
    void RecordTransition(const std::wstring& line) override;

private:
    // The window class's handler (win/window_class.h).
    static LRESULT Dispatch(UpdateForm& form, HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    using FormClass = win::WindowClass<UpdateForm, &UpdateForm::Dispatch>;
    LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
    void CreateControls();
    HWND ControlWindow(update_flow::Control control) const;
    void ShowProgress(double fraction) override;  // 0..1 on the progress bar
    // What the downloader's last answer asked with Retry-After, when it asked readably.
    std::optional<std::uint64_t> RetryAfterSeconds() const;
    HWND MessageOwner() const;
    void BringForward(WPARAM request);
    // InstallWindow
    HWND PromptOwner() override;

    HINSTANCE instance_;
    HWND window_ = nullptr;
    HWND controls_[7] = {};
    HWND progress_ = nullptr;
    update_flow::ProgressPace bar_pace_;  // the position the bar shows, and when it moved
    win::unique_gdi_object font_;
    Installation installation_;
    Registration registration_;
    UpdateInstaller installer_{installation_, *this};
    win::InstanceClaim* claim_ = nullptr;
    update_flow::UpdateFlow flow_{*this};
    WinHttpDown WinHttpDown1;  // after flow_: it goes first, so no late event reaches a finished flow
    bool timer_on_ = false;
};

}  // namespace vantorix::launcher
