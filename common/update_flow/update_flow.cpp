#include "common/update_flow/update_flow.h"

#include <cstdio>

#include "common/update_flow/download_retry.h"
#include "common/update_flow/texts.h"

namespace vantorix::update_flow {

namespace {
constexpr int kStateComplete = 9;
}

std::wstring UpdateFolderOf(const std::wstring& launcher_folder) {
    if (!launcher_folder.empty() && launcher_folder.back() == L'\\') return launcher_folder + L"update";
    return launcher_folder + L"\\update";
}

std::wstring StateText(int state) {
    constexpr int count = sizeof text::kStates / sizeof text::kStates[0];
    return state >= 1 && state <= count ? text::kStates[state - 1] : L"";
}

std::wstring ProgressText(const std::wstring& size_text, float percent) {
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.2f", static_cast<double>(percent));
    return text::kFileSize + size_text + std::wstring(digits, digits + std::char_traits<char>::length(digits)) + L"%";
}

Caption CaptionOf(FlowState state) {
    switch (state) {
    case FlowState::Starting: return {text::kUpToDate, true};  // the button as the form creates it
    case FlowState::UpToDate: return {text::kUpToDate, false};
    case FlowState::NoManifest: return {text::kCannotCheck, false};
    case FlowState::Offered: return {text::kOfferUpdate, true};
    case FlowState::Withdrawn: return {text::kOfferUpdate, false};
    case FlowState::Downloading:
    case FlowState::RetryWait: return {text::kUpdating, false};
    case FlowState::Downloaded:
    case FlowState::Installing:
    case FlowState::Rejected: return {text::kDownloaded, false};
    case FlowState::Installed: return {text::kStartNow, true};
    case FlowState::Ended: break;
    }
    return {nullptr, false};
}

const wchar_t* NameOf(FlowState state) {
    switch (state) {
    case FlowState::Starting: return L"starting";
    case FlowState::UpToDate: return L"up-to-date";
    case FlowState::NoManifest: return L"no-manifest";
    case FlowState::Offered: return L"offered";
    case FlowState::Withdrawn: return L"withdrawn";
    case FlowState::Downloading: return L"downloading";
    case FlowState::RetryWait: return L"retry-wait";
    case FlowState::Downloaded: return L"downloaded";
    case FlowState::Installing: return L"installing";
    case FlowState::Rejected: return L"rejected";
    case FlowState::Installed: return L"installed";
    case FlowState::Ended: return L"ended";
    }
    return L"?";
}

const wchar_t* NameOf(FlowEvent event) {
    switch (event) {
    case FlowEvent::ManifestCurrent: return L"manifest-current";
    case FlowEvent::ManifestMissing: return L"manifest-missing";
    case FlowEvent::ManifestNewer: return L"manifest-newer";
    case FlowEvent::UpdateStarted: return L"update-started";
    case FlowEvent::DownloadFailed: return L"download-failed";
    case FlowEvent::RetryDue: return L"retry-due";
    case FlowEvent::DownloadGivenUp: return L"download-given-up";
    case FlowEvent::DownloadComplete: return L"download-complete";
    case FlowEvent::Oversized: return L"oversized";
    case FlowEvent::InstallStarted: return L"install-started";
    case FlowEvent::InstallDone: return L"install-done";
    case FlowEvent::WriteFailed: return L"write-failed";
    case FlowEvent::NoRoom: return L"no-room";
    case FlowEvent::ElevationDeclined: return L"elevation-declined";
    case FlowEvent::InstallationRefused: return L"installation-refused";
    case FlowEvent::ArchiveRejected: return L"archive-rejected";
    case FlowEvent::DeltaFallBack: return L"delta-fallback";
    case FlowEvent::CloseRefused: return L"close-refused";
    case FlowEvent::Closed: return L"closed";
    }
    return L"?";
}

std::wstring TransitionText(FlowState from, FlowState to, FlowEvent event) {
    return std::wstring(NameOf(from)) + L" -> " + NameOf(to) + L" (" + NameOf(event) + L")";
}

void UpdateFlow::Enter(FlowState to, FlowEvent event) {
    const FlowState from = state_;
    state_ = to;
    host_.RecordTransition(TransitionText(from, to, event));
    const Caption was = CaptionOf(from), now = CaptionOf(to);
    if (!now.text || (was.text && std::wstring(was.text) == now.text && was.enabled == now.enabled)) return;
    host_.SetText(Control::Command1, now.text);
    host_.EnableButton(now.enabled);
}

void UpdateFlow::End() { host_.CloseForm(); }

void UpdateFlow::ShowStatus(const std::wstring& text) {
    status_pace_.Reset();
    host_.SetText(Control::lblMsg, text);
}

void UpdateFlow::Load(bool update_mode) {
    local_version_ = host_.LocalVersion();
    if (update_mode) {
        UpdateCommon();
        if (state_ != FlowState::Ended) host_.ShowForm(true);
        return;
    }
    host_.ShowForm(false);
    host_.EnsureUpdateFolder();
    if (!host_.ControlFileExists()) {
        if (!host_.AskYesNo(text::kAskRegister)) return End();
        if (!StartRegistration()) return;
    }
    host_.SetTimer(true);
}

void UpdateFlow::Tick() {
    // Ticks keep coming while a message box or the manifest fetch holds this one.
    if (state_ == FlowState::Ended || ticking_) return;
    ticking_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{ticking_};

    // The registration script started by an earlier answer is still at work: wait for it rather than
    // ask again, start a second one or start a client that needs the library it is registering.
    if (host_.RegistrationRunning()) return;
    if (!marker_failed_ && !host_.MarkerExists()) {
        if (!host_.ControlFileExists()) {
            if (!host_.AskYesNo(text::kAskRegister)) return End();
            StartRegistration();
            return;
        }
        // A marker that cannot be written (read-only folder) must not keep the program waiting.
        if (!host_.CreateMarker()) marker_failed_ = true;
        return;
    }
    if (host_.ClientExists()) {
        if (UpdateCommon() || (update_requested_ && state_ != FlowState::Ended)) {
            // Shown at another start's request, the form stands in for the client this start owes: closing
            // it without an update starts the client as the hidden launcher would have.
            client_owed_ = update_requested_;
            host_.ShowForm(true);
            host_.SetTimer(false);
        } else if (state_ != FlowState::Ended) {
            StartClient();
            End();
        }
        return;
    }
    if (host_.AskYesNo(text::kAskClientMissing)) host_.OpenHomePage();
    End();
}

bool UpdateFlow::UpdateCommon() {
    manifest_ = host_.FetchManifest();
    if (manifest_ && manifest_->held_back) {
        // Not offered to this installation yet: it shows and does what an installation whose version is
        // the newest shows and does.
        ManifestView newest;
        newest.version = local_version_;
        newest.mandatory_shown = text::kNotMandatory;
        manifest_ = newest;
    }
    const ManifestView none{};
    const ManifestView& m = manifest_ ? *manifest_ : none;
    host_.SetText(Control::Label1, text::kLabel1 + local_version_);
    host_.SetText(Control::Label2, text::kLabel2 + m.version);
    host_.SetText(Control::Label3, text::kLabel3 + (manifest_ ? m.mandatory_shown : std::wstring(text::kNotMandatory)));
    host_.SetText(Control::Label4, text::kLabel4 + std::wstring(L"\r\n") + m.uptext);
    host_.SetText(Control::Label7, text::kLabel7 + m.new_title);
    if (!manifest_) {
        // No usable manifest: nothing to offer, the client starts as it is, and the form does not claim
        // what it cannot know.
        Enter(FlowState::NoManifest, FlowEvent::ManifestMissing);
        ShowStatus(text::kNoManifest);
        return false;
    }
    if (m.version == local_version_) {
        Enter(FlowState::UpToDate, FlowEvent::ManifestCurrent);
        return false;
    }
    Enter(FlowState::Offered, FlowEvent::ManifestNewer);
    if (!m.mandatory) return false;
    host_.ShowMessage(text::kNewVersion + m.version + L"\r\n" + m.uptext);
    if (state_ == FlowState::Ended) return false;
    ButtonClicked();
    return true;
}

void UpdateFlow::ButtonClicked() {
    if (!manifest_) return;
    if (state_ == FlowState::Installed) {
        // After a committed install "立即启动" starts what was installed, whatever version text the client
        // carries: comparing again with the manifest could only download the same archive for ever.
        StartClient();
        host_.DeleteArchive();
        End();
        return;
    }
    // The button acts only where it is offered: never a second download, never one after a refusal.
    if (state_ != FlowState::Offered || manifest_->version == host_.LocalVersion()) return;
    host_.EndRunningClients();
    retries_ = 0;
    Enter(FlowState::Downloading, FlowEvent::UpdateStarted);
    ShowStatus(text::kGettingAddress);
    StartPackage(DeltaForInstalledVersion() ? Package::Delta : Package::Full);
}

// The delta published for the installed client version, unless it failed once in this run.
const DeltaView* UpdateFlow::DeltaForInstalledVersion() const {
    if (!manifest_ || delta_given_up_) return nullptr;
    for (const DeltaView& delta : manifest_->deltas)
        if (delta.from == local_version_) return &delta;
    return nullptr;
}

void UpdateFlow::StartPackage(Package package) {
    const DeltaView* delta = package == Package::Delta ? DeltaForInstalledVersion() : nullptr;
    package_ = delta ? Package::Delta : Package::Full;
    const std::wstring& url = delta ? delta->url : manifest_->url;
    // An archive or side files left by an earlier run would make the downloader pick a numbered
    // name while the fixed name is unpacked: clear them first.
    host_.ClearStaleArchive(url, package_);
    host_.StartDownload(url, delta ? delta->package.size : manifest_->archive.size, package_);
}

// The delta cannot bring this installation to the release: the full archive, which every installation can
// take, is downloaded and installed instead, once, without asking the user again.
void UpdateFlow::FallBackToFullArchive(const std::wstring& reason) {
    delta_given_up_ = true;
    host_.AbandonDelta(reason);
    if (state_ == FlowState::Ended) return;
    retries_ = 0;
    Enter(FlowState::Downloading, FlowEvent::DeltaFallBack);
    ShowStatus(text::kGettingAddress);
    StartPackage(Package::Full);
}

void UpdateFlow::DownloadStateChanged(int state, int http_status, std::optional<uint64_t> retry_after_seconds) {
    if (state_ == FlowState::Ended) return;
    ShowStatus(StateText(state));
    if (IsDownloadFailure(state) && state_ == FlowState::Downloading && package_ == Package::Delta)
        return FallBackToFullArchive(L"delta download failed in state " + std::to_wstring(state) +
                                     (http_status ? L", HTTP " + std::to_wstring(http_status) : L""));
    if (IsDownloadFailure(state) && state_ == FlowState::Downloading)
        return DownloadFailed(state, http_status, retry_after_seconds);
    if (state == kStateComplete) download_failed_ = false;
    // Only completion means the whole archive is in place: a 100 % figure comes too early from a server
    // that sends no length, and never from a resumed archive that was already complete.
    if (state == kStateComplete && state_ == FlowState::Downloading) Complete();
}

void UpdateFlow::DownloadProgress(const std::wstring& size_text, float percent, std::uint64_t now_ms) {
    if (state_ == FlowState::Ended) return;
    // Every repaint of the status line costs the form's thread more than a block of data does: it changes
    // with the whole percentage, at most 101 times a download, and a few times a second at most while the
    // blocks come faster.
    const int whole = percent <= 0 ? 0 : percent >= 100 ? 100 : static_cast<int>(percent);
    if (!status_pace_.Due(whole, now_ms)) return;
    host_.SetText(Control::lblMsg, ProgressText(size_text, percent));
}

// Entered from Downloading only: a second completion while this one waits in a message box or installs
// finds the flow in another state.
void UpdateFlow::Complete() {
    Enter(FlowState::Downloaded, FlowEvent::DownloadComplete);
    if (!download_announced_) {
        download_announced_ = true;
        const std::wstring version = manifest_ ? manifest_->version : std::wstring();
        host_.ShowMessage(text::kDownloadedPrefix + version + text::kDownloadedSuffix);
        if (state_ == FlowState::Ended) return;
    }
    if (package_ == Package::Delta && !host_.DownloadedPackageExists(Package::Delta)) return FallBackToFullArchive(L"the delta is missing");
    if (package_ == Package::Full && !host_.DownloadedPackageExists(Package::Full)) {
        if (host_.AskYesNo(text::kAskArchiveMissing)) {
            host_.OpenHomePage();
            End();
        }
        return;
    }
    ShowStatus(text::kUnpacking);
    Enter(FlowState::Installing, FlowEvent::InstallStarted);
    const UnpackResult unpacked = InstallDownloaded();
    if (package_ == Package::Delta && unpacked.outcome != UnpackOutcome::Done && unpacked.outcome != UnpackOutcome::NoRoom &&
        unpacked.outcome != UnpackOutcome::ElevationDeclined && unpacked.outcome != UnpackOutcome::InstallationRefused &&
        state_ != FlowState::Ended)
        return FallBackToFullArchive(unpacked.reason.empty() ? L"the delta was not applied" : unpacked.reason);
    const std::wstring reason = unpacked.reason.empty() ? L"" : L"\r\n(" + unpacked.reason + L")";
    switch (unpacked.outcome) {
    case UnpackOutcome::Done:
        InstallCommitted();
        return;
    case UnpackOutcome::WriteFailed:
    case UnpackOutcome::NoRoom: {
        // Offer the update again (once the disk has room, or the file is free) rather than start a mixed
        // installation.
        const bool no_room = unpacked.outcome == UnpackOutcome::NoRoom;
        const wchar_t* message = no_room ? text::kNoRoom : text::kWriteFailed;
        host_.DeleteArchive();
        Enter(FlowState::Offered, no_room ? FlowEvent::NoRoom : FlowEvent::WriteFailed);
        ShowStatus(message);
        host_.ShowMessage(message + reason);
        return;
    }
    case UnpackOutcome::ElevationDeclined:
    case UnpackOutcome::InstallationRefused: {
        // Never a dead end and never a loop: one message, the current client, and the update is offered
        // again at the next start.
        const wchar_t* message = unpacked.outcome == UnpackOutcome::ElevationDeclined ? text::kUpdateElevationDeclined
                                                                                     : text::kStepInstallationRefused;
        host_.DeleteArchive();
        Enter(FlowState::Withdrawn, unpacked.outcome == UnpackOutcome::ElevationDeclined ? FlowEvent::ElevationDeclined
                                                                                         : FlowEvent::InstallationRefused);
        ShowStatus(message);
        host_.ShowMessage(message);
        if (state_ == FlowState::Ended) return;
        StartClientAfterFailure();
        End();
        return;
    }
    case UnpackOutcome::ArchiveRejected:
    case UnpackOutcome::DeltaRefused:
        break;
    }
    Enter(FlowState::Rejected, FlowEvent::ArchiveRejected);
    RejectArchive(unpacked.reason);
}

void UpdateFlow::UpdateRequested() { update_requested_ = true; }

void UpdateFlow::StartClient() {
    client_owed_ = false;
    host_.StartClient();
}

void UpdateFlow::DownloadOversized() {
    if (state_ != FlowState::Downloading) return;
    if (package_ == Package::Delta) return FallBackToFullArchive(L"the delta is larger than published");
    Enter(FlowState::Withdrawn, FlowEvent::Oversized);  // no download runs any more: closing needs no confirmation
    RejectArchive(text::kArchiveWrongSize);
}

// The archive was refused before a file was touched: the installation is as it was, so the old client
// goes on and the bad archive goes away.
void UpdateFlow::RejectArchive(const std::wstring& reason) {
    host_.DeleteArchive();
    ShowStatus(text::kArchiveRejected);
    host_.ShowMessage(text::kArchiveRejected + (reason.empty() ? L"" : L"\r\n(" + reason + L")"));
    if (state_ == FlowState::Ended) return;
    if (host_.ClientExists()) StartClient();
    End();
}

UnpackResult UpdateFlow::InstallDownloaded() {
    if (package_ == Package::Full) return VerifiedUnpack();
    const DeltaView* delta = DeltaForInstalledVersion();
    if (!delta) return {UnpackOutcome::DeltaRefused, L"no delta for the installed version"};
    return host_.ApplyDelta(delta->package);
}

UnpackResult UpdateFlow::VerifiedUnpack() {
    // An archive that is not the one the manifest publishes is refused before a file is touched, and
    // goes the way of a damaged one: deleted, one message, the current client starts.
    const integrity::ExpectedArchive expected = manifest_ ? manifest_->archive : integrity::ExpectedArchive{};
    if (manifest_) {
        std::wstring mismatch = host_.ArchiveMismatch(expected);
        if (!mismatch.empty()) return {UnpackOutcome::ArchiveRejected, mismatch};
    }
    return host_.UnpackArchive(expected);
}

void UpdateFlow::InstallCommitted() {
    Enter(FlowState::Installed, FlowEvent::InstallDone);
    ShowStatus(text::kUpdateDone);
    // The form shows the version now installed beside the manifest's, so a release whose client carries
    // another version than announced is visible to the user rather than a reason to download it again.
    local_version_ = host_.LocalVersion();
    host_.SetText(Control::Label1, text::kLabel1 + local_version_);
}

bool UpdateFlow::QueryClose() {
    if (state_ == FlowState::Ended) return true;
    if (state_ == FlowState::Installing || (DownloadRuns() && !host_.AskYesNo(text::kAskForceClose))) {
        host_.RecordTransition(TransitionText(state_, state_, FlowEvent::CloseRefused));
        return false;
    }
    Enter(FlowState::Ended, FlowEvent::Closed);
    host_.SetTimer(false);
    if (download_failed_ || client_owed_) StartClientAfterFailure();
    return true;
}

// A failed download is never a dead end: passing faults are tried again by themselves, resuming from the
// side files the downloader kept; anything else, or too many attempts, hands the update back to the user.
void UpdateFlow::DownloadFailed(int state, int http_status, std::optional<uint64_t> retry_after_seconds) {
    download_failed_ = true;
    if (IsTransientDownloadFailure(state, http_status) && retries_ < kMaxDownloadRetries) {
        ++retries_;
        Enter(FlowState::RetryWait, FlowEvent::DownloadFailed);
        const unsigned delay = RetryWaitMs(retries_, host_.RetryJitter(), http_status, retry_after_seconds);
        ShowStatus(RetryWaitText(state, retries_, delay));
        host_.ScheduleRetry(delay);
        return;
    }
    retries_ = 0;
    Enter(FlowState::Offered, FlowEvent::DownloadGivenUp);
    ShowStatus(RetryOfferText(state));
}

void UpdateFlow::RetryDue() {
    if (state_ != FlowState::RetryWait || !manifest_) return;
    Enter(FlowState::Downloading, FlowEvent::RetryDue);
    ShowStatus(text::kGettingAddress);
    host_.StartDownload(manifest_->url, manifest_->archive.size, Package::Full);
}

// A refused elevation is told once and ends the start: asking again on every tick would never end, and
// the client cannot run without its control library.
bool UpdateFlow::StartRegistration() {
    if (host_.StartRegistration() != RegistrationStart::Declined) return true;
    host_.ShowMessage(text::kElevationDeclined);
    End();
    return false;
}

// The user gives up on an update that failed: the installation is as it was, so its client goes on.
void UpdateFlow::StartClientAfterFailure() {
    if (host_.ClientExists()) StartClient();
}

}  // namespace vantorix::update_flow
