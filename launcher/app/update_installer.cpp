#include "launcher/app/update_installer.h"

#include "common/update_flow/install_step.h"
#include "common/update_flow/texts.h"
#include "launcher/app/client_start.h"
#include "launcher/app/control_library.h"
#include "launcher/app/delta_install.h"
#include "launcher/app/elevation.h"
#include "launcher/app/service_install.h"
#include "launcher/app/update_install.h"
#include "launcher/app/update_key.h"
#include "launcher/services/archive_check.h"
#include "launcher/services/process_cost.h"
#include "win/diagnostic_log.h"
#include "win/process.h"
#include "win/unique_handle.h"

namespace vantorix::launcher {

namespace {
namespace text = update_flow::text;
constexpr wchar_t kLogPlace[] = L"update";
}  // namespace

UpdateInstaller::UpdateInstaller(const Installation& installation, InstallWindow& window)
    : installation_(installation), window_(window) {}

const UpdatePlace& UpdateInstaller::Place() {
    if (!place_) place_ = UpdatePlace::For(installation_);
    return *place_;
}

std::wstring UpdateInstaller::ArchiveMismatch(const integrity::ExpectedArchive& expected) {
    // The launcher that installs itself checks the archive where it installs it from (InstallHere). Before
    // the elevated step is asked for, the user's own copy is checked here: a bad download is refused
    // without a prompt (the step checks its own copy again).
    if (!Place().ElevatedInstall()) return L"";
    return PackageMismatch(Place().Archive(), expected);
}

std::wstring UpdateInstaller::PackageMismatch(const std::wstring& package, const integrity::ExpectedArchive& expected) {
    // Hashing a large archive takes a while: the form keeps answering between blocks.
    window_.ShowProgress(0);
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

update_flow::UnpackResult UpdateInstaller::UnpackArchive(const integrity::ExpectedArchive& expected) {
    // A client the user started again during the download would hold its files.
    launcher::EndRunningClients(installation_);
    // Hashing and unpacking a large archive take a while: the form keeps answering between blocks.
    window_.ShowProgress(0);
    const update_flow::UnpackResult result =
        Place().ElevatedInstall() ? InstallElevated(Place().Archive(), false) : InstallHere(expected);
    win::diag::Record(kLogPlace, L"install outcome, " + services::ProcessCostText(), static_cast<unsigned long>(result.outcome));
    return result;
}

update_flow::UnpackResult UpdateInstaller::InstallHere(const integrity::ExpectedArchive& expected) {
    const InstallOutcome installed = InstallDownloadedArchive(
        installation_.Folder(), Place().Archive(), expected, BuiltInUpdateKeys(), win::PacedPump(),
        [this](unsigned long long done, unsigned long long total) { ShowApplyProgress(done, total); });
    return Settle(installed);
}

update_flow::UnpackResult UpdateInstaller::Settle(const InstallOutcome& installed) {
    update_flow::UnpackResult result = update_flow::OutcomeOfInstallStep(installed.exit);
    if (!installed.reason.empty()) result.reason = installed.reason;
    if (installed.exit == update_flow::StepExit::Done && CarriesEngineOrControlLibrary(installed.committed))
        PutEngineAndLibraryInPlace();
    return result;
}

void UpdateInstaller::ShowApplyProgress(unsigned long long done, unsigned long long total) {
    window_.ShowProgress(total ? static_cast<double>(done) / static_cast<double>(total) : 1.0);
    apply_pump_();
}

update_flow::UnpackResult UpdateInstaller::ApplyDelta(const integrity::ExpectedArchive& expected) {
    launcher::EndRunningClients(installation_);
    window_.ShowProgress(0);
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
        result = Settle(applied);
    }
    win::diag::Record(kLogPlace, L"delta install outcome", static_cast<unsigned long>(result.outcome));
    return result;
}

void UpdateInstaller::AbandonDelta(const std::wstring& reason) {
    win::diag::Record(kLogPlace, L"falling back to the full archive: " + reason);
    Place().DeleteDelta();
}

// The new engine or control library goes where the client loads it from. Where this process may not write
// the system folder (the installation is the user's own, the system's is not), the elevated "-register"
// step does it; a refusal leaves the engine in use as it was until the next update.
void UpdateInstaller::PutEngineAndLibraryInPlace() {
    const LibraryInstall library = InstallControlLibrary(installation_.Folder());
    if (library.exit == update_flow::StepExit::Done || library.code != ERROR_ACCESS_DENIED) return;
    const ElevatedRun run = RunElevated(installation_.Path(L"\\VantorixAssist.exe"), update_flow::kRegisterArgument, window_.PromptOwner());
    if (run.status != ElevationStatus::Started || run.exit_code != 0)
        win::diag::Record(kLogPlace, L"the new engine and control library are not in use yet", run.exit_code);
}

update_flow::UnpackResult UpdateInstaller::InstallElevated(const std::wstring& package, bool delta) {
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
    const ElevatedRun run = RunElevated(installation_.Path(L"\\VantorixAssist.exe"), parameters, window_.PromptOwner());
    switch (run.status) {
    case ElevationStatus::Declined: return {update_flow::UnpackOutcome::ElevationDeclined, L""};
    case ElevationStatus::Failed:
        return {update_flow::UnpackOutcome::WriteFailed, text::kStepFailedCode + std::to_wstring(run.error)};
    case ElevationStatus::Started: break;
    }
    return update_flow::OutcomeOfInstallStep(run.exit_code);
}

}  // namespace vantorix::launcher
