#include "launcher/app/install_steps.h"

#include <windows.h>

#include "common/update_flow/install_step.h"
#include "common/update_flow/update_flow.h"
#include "launcher/app/control_library.h"
#include "launcher/app/delta_install.h"
#include "launcher/app/install_recovery.h"
#include "launcher/app/installation.h"
#include "launcher/app/protected_installation.h"
#include "launcher/app/publisher_check.h"
#include "launcher/app/update_install.h"
#include "launcher/app/update_key.h"
#include "launcher/services/install_state_store.h"
#include "launcher/services/manifest_verification.h"
#include "launcher/services/services.h"
#include "launcher/services/wide_text.h"
#include "win/diagnostic_log.h"
#include "win/unique_handle.h"

namespace vantorix::launcher {

namespace {

using update_flow::StepExit;

constexpr wchar_t kLogPlace[] = L"install step";
// A manifest is a few kilobytes; the reader takes no more than the fetch would.
constexpr DWORD kMaxManifestBytes = 1 << 20;

int Exit(StepExit exit, const std::wstring& why) {
    win::diag::Record(kLogPlace, why, static_cast<unsigned long>(exit));
    return static_cast<int>(exit);
}

}  // namespace

// The manifest file's bytes: one plain file (no link), at most kMaxManifestBytes.
std::optional<std::string> ReadManifestFile(const std::wstring& path) {
    win::unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) || info.nFileSizeHigh ||
        info.nFileSizeLow > kMaxManifestBytes)
        return std::nullopt;
    std::string bytes(info.nFileSizeLow, '\0');
    DWORD got = 0;
    if (!bytes.empty() && (!ReadFile(file.get(), bytes.data(), info.nFileSizeLow, &got, nullptr) || got != bytes.size()))
        return std::nullopt;
    return bytes;
}

namespace {

// What an earlier install left in the installation is settled (and logged) before the step acts.
services::InstallRecovery SettleBeforeStep(const std::wstring& folder) {
    return SettleEarlierInstall(folder, {update_flow::UpdateFolderOf(folder)});
}

}  // namespace

bool IsPlainLocalPath(const std::wstring& path) {
    if (path.size() < 4 || path.size() >= MAX_PATH || path[1] != L':' || path[2] != L'\\' || path.back() == L'\\')
        return false;
    const wchar_t drive = path[0];
    if (!((drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z'))) return false;
    if (path.find_first_of(L"*?\"<>|/") != std::wstring::npos || path.find(L':', 2) != std::wstring::npos) return false;
    wchar_t full[MAX_PATH] = {};
    const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return n == path.size() && CompareStringOrdinal(full, -1, path.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::optional<InstallUpdateArguments> ParseInstallUpdateArguments(const std::vector<std::wstring>& arguments) {
    const bool delta = arguments.size() == 4 && arguments[3] == update_flow::kDeltaFlag;
    if ((arguments.size() != 3 && !delta) || arguments[0] != update_flow::kInstallUpdateArgument ||
        !IsPlainLocalPath(arguments[1]) || !IsPlainLocalPath(arguments[2]))
        return std::nullopt;
    return InstallUpdateArguments{arguments[1], arguments[2], delta};
}

int RunInstallUpdateStep(const std::vector<std::wstring>& arguments, const std::wstring& folder) {
    const auto request = ParseInstallUpdateArguments(arguments);
    if (!request)
        return Exit(StepExit::BadCommandLine, L"the command line is not -install-update <archive> <manifest> [-delta]");
    const auto bytes = ReadManifestFile(request->manifest);
    if (!bytes) return Exit(StepExit::ManifestRefused, L"the manifest file cannot be read");
    return RunInstallRequest(request->package, *bytes, request->delta, folder);
}

int RunInstallRequest(const std::wstring& package, const std::string& manifest_bytes, bool delta, const std::wstring& folder) {
    // An install cut short before is settled first (the installation was accepted: its journal is its own);
    // then this one runs under the journal.
    SettleBeforeStep(folder);

    // The serial floor is the installation's own state: the per-user copy is the user's hint, never the
    // step's input. A state that is there but cannot be read whole (held open without sharing, broken lines)
    // would read as no floor at all: the update is refused instead.
    const services::StoredState stored = services::ReadStateFile(folder + services::kInstallStatePath);
    if (stored.unreadable || !stored.problems.empty()) {
        for (const std::wstring& problem : stored.problems) win::diag::Record(kLogPlace, problem);
        return Exit(StepExit::ManifestRefused, L"the installation's state cannot be read: no manifest is judged without its floor");
    }
    // Judged here again, by the same reader the user's launcher used, against this installation's state.
    const auto verdict = services::VerifyManifest(manifest_bytes, BuiltInUpdateKeys(), stored.state, services::UnixTimeNow());
    win::diag::Record(kLogPlace, services::Wide(manifest::DescribeVerdict(verdict)));
    if (!verdict.manifest) return Exit(StepExit::ManifestRefused, L"the manifest was refused");
    const manifest::Manifest& m = *verdict.manifest;
    // Accepted: the installation's floor becomes the higher of what it held and this serial, whatever the
    // install then does.
    if (m.signed_members &&
        services::RecordAcceptedSerial(folder, m.signed_members->serial, true) == services::StateWritten::Nowhere)
        win::diag::RecordLastError(kLogPlace, L"the accepted serial could not be recorded");
    // A delta is taken only as the accepted manifest lists it for the client installed here.
    const auto expected = delta ? DeltaForInstalledClient(folder, m)
                                : integrity::ParseExpectedArchive(m.size, m.sha256, m.signature);
    if (!expected && delta) return Exit(StepExit::DeltaRefused, L"no delta for the installed client version");
    if (!expected) return Exit(StepExit::ManifestRefused, L"the manifest's archive values are malformed");

    // Nothing is committed that the running launcher's signer did not sign.
    const unzip::StagedCheck signed_by_publisher = PublisherSignatureCheck();
    const InstallOutcome installed =
        delta ? InstallDownloadedDelta(folder, package, *expected, BuiltInUpdateKeys(), {}, {}, signed_by_publisher)
              : InstallDownloadedArchive(folder, package, *expected, BuiltInUpdateKeys(), {}, {}, signed_by_publisher);
    if (installed.exit != StepExit::Done) return Exit(installed.exit, L"not installed: " + installed.reason);
    // The user's launcher could keep its rollout draw only in its own copy: the installation keeps it now.
    services::RolloutDraw(folder, services::DrawPlace::Installation);
    if (CarriesEngineOrControlLibrary(installed.committed)) {
        const LibraryInstall library = InstallControlLibrary(folder);
        if (library.exit != StepExit::Done) return Exit(library.exit, L"installed, but " + library.what);
    }
    return Exit(StepExit::Done, L"installed");
}

int RunRecoverStep(const std::vector<std::wstring>& arguments, const std::wstring& folder) {
    if (arguments.size() != 1 || arguments[0] != update_flow::kRecoverArgument)
        return Exit(StepExit::BadCommandLine, L"the command line is not -recover");
    switch (SettleBeforeStep(folder)) {
    case services::InstallRecovery::Failed:
    case services::InstallRecovery::NotPermitted: return Exit(StepExit::WriteFailed, L"the interrupted update is not settled");
    case services::InstallRecovery::Busy: return Exit(StepExit::InstallBusy, L"another install is under way");
    default: return Exit(StepExit::Done, L"settled");
    }
}

int RunRegisterStep(const std::vector<std::wstring>& arguments, const std::wstring& folder) {
    if (arguments.size() != 1 || arguments[0] != update_flow::kRegisterArgument)
        return Exit(StepExit::BadCommandLine, L"the command line is not -register");
    const LibraryInstall library = InstallControlLibrary(folder);
    return Exit(library.exit, library.exit == StepExit::Done ? L"registered" : library.what);
}

std::wstring AcceptedInstallation(const std::wstring& image_folder) {
    const StepInstallation where = CheckStepInstallation(image_folder);
    // The log of an installation the step may write (its own once accepted), else none: a folder others
    // can change gets nothing written by the step.
    if (!where.log_folder.empty()) win::diag::OpenLog(update_flow::UpdateFolderOf(where.log_folder) + L"\\install.log");
    for (const std::wstring& finding : where.findings) win::diag::Record(kLogPlace, finding);
    if (!where.accepted)
        win::diag::Record(kLogPlace, L"refused: a step acts only on the installation the setup registered, in folders only "
                                     L"the administrators can change",
                          static_cast<unsigned long>(StepExit::InstallationRefused));
    return where.accepted ? where.folder : L"";
}

int RunStep(const std::vector<std::wstring>& arguments, const std::wstring& image_folder) {
    // No program is ever started from here, and a commit moves this program's own file aside instead of
    // leaving a new one to be started.
    services::BecomeElevatedStep();
    const std::wstring folder = AcceptedInstallation(image_folder);
    if (folder.empty()) return static_cast<int>(StepExit::InstallationRefused);
    if (arguments[0] == update_flow::kRecoverArgument) return RunRecoverStep(arguments, folder);
    return arguments[0] == update_flow::kRegisterArgument ? RunRegisterStep(arguments, folder)
                                                          : RunInstallUpdateStep(arguments, folder);
}

}  // namespace vantorix::launcher
