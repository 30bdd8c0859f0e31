#include "launcher/app/install_recovery.h"

#include <windows.h>

#include "common/delta/apply_delta.h"
#include "common/update_flow/install_step.h"
#include "common/update_flow/texts.h"
#include "common/update_flow/update_flow.h"
#include "launcher/app/elevation.h"
#include "launcher/app/update_place.h"
#include "launcher/services/wide_text.h"
#include "launcher/services/win32_file_system.h"
#include "win/diagnostic_log.h"
#include "win/file_exists.h"

namespace vantorix::launcher {

namespace {

constexpr wchar_t kLogPlace[] = L"recovery";

void Log(services::InstallRecovery recovery, const std::wstring& file) {
    using services::InstallRecovery;
    switch (recovery) {
    case InstallRecovery::Nothing: return;
    case InstallRecovery::Finished:
        return win::diag::Record(kLogPlace, L"an earlier update was found whole: its work files were removed");
    case InstallRecovery::RolledBack:
        return win::diag::Record(kLogPlace, L"an interrupted update was rolled back to the release it replaced" +
                                                (file.empty() ? L"" : L" (" + file + L" was not whole)"));
    case InstallRecovery::Discarded:
        return win::diag::Record(kLogPlace, L"an earlier update's journal was discarded, nothing rolled back: " + file +
                                                L" is neither the release it installed nor the one it replaced "
                                                L"(a later repair or upgrade stands)");
    case InstallRecovery::Failed:
        return win::diag::Record(kLogPlace, L"an interrupted update could not be settled yet");
    case InstallRecovery::Busy: return win::diag::Record(kLogPlace, L"another launcher is installing: left alone");
    case InstallRecovery::Pending:
        return win::diag::Record(kLogPlace, L"an update waits for its new launcher to take the running one's place");
    case InstallRecovery::NotPermitted:
        return win::diag::Record(kLogPlace, L"an interrupted update waits, and this user may not settle it");
    }
}

// The delta package in the folder makes the installed client: it has done its work.
void RemoveInstalledDelta(const std::wstring& update_folder, const std::string& installed) {
    const UpdatePlace place(update_folder, false);
    if (!win::FileExists(place.Delta())) return;
    services::Win32FileSystem files;
    const auto makes = delta::PackageTargetVersion(files, services::Utf8(place.Delta()));
    if (!makes || *makes != installed) return;
    place.DeleteDelta();
    if (!win::FileExists(place.Delta()))
        win::diag::Record(kLogPlace, L"a delta package of the installed version was left: removed");
    else
        win::diag::RecordLastError(kLogPlace, L"a delta package of the installed version cannot be removed");
}

}  // namespace

services::InstallRecovery SettleEarlierInstall(const std::wstring& folder, const std::vector<std::wstring>& update_folders) {
    std::wstring file;
    const services::InstallRecovery recovery = services::RecoverInterruptedInstall(folder, &file);
    Log(recovery, file);
    const std::string installed = services::Utf8(services::GetFileVersionText(folder + update_flow::kClientPath));
    if (!installed.empty())
        for (const std::wstring& update_folder : update_folders) RemoveInstalledDelta(update_folder, installed);
    return recovery;
}

void SettleAtStart(const Installation& installation) {
    std::vector<std::wstring> update_folders{update_flow::UpdateFolderOf(installation.Folder())};
    if (const std::wstring per_user = installation.PerUserFolder(); !per_user.empty())
        update_folders.push_back(per_user + L"\\update");
    if (SettleEarlierInstall(installation.Folder(), update_folders) != services::InstallRecovery::NotPermitted) return;
    // Once per start: the user is told why a prompt comes, the step settles the installation, and the
    // start goes on whatever the answer (a refusal leaves it for the next start to ask again).
    MessageBoxW(nullptr, update_flow::text::kRecoverNeedsAdmin, update_flow::text::kMessageTitle, MB_OK | MB_SETFOREGROUND);
    const ElevatedRun run = RunElevated(installation.Path(L"\\VantorixAssist.exe"), update_flow::kRecoverArgument, nullptr);
    if (run.status == ElevationStatus::Declined)
        win::diag::Record(kLogPlace, L"the step that settles the interrupted update was declined");
    else if (run.status == ElevationStatus::Failed)
        win::diag::Record(kLogPlace, L"the step that settles the interrupted update could not be started", run.error);
    else
        win::diag::Record(kLogPlace, L"the step that settles the interrupted update ended", run.exit_code);
}

}  // namespace vantorix::launcher
