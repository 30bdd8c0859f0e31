#include "launcher/app/delta_install.h"

#include <windows.h>

#include "common/unzip/paths.h"
#include "common/update_flow/update_flow.h"
#include "launcher/services/archive_check.h"
#include "launcher/services/bcrypt_sha256.h"
#include "launcher/services/services.h"
#include "launcher/services/wide_text.h"
#include "launcher/services/win32_file_system.h"
#include "win/diagnostic_log.h"
#include "win/unique_handle.h"

namespace vantorix::launcher {

namespace {

using update_flow::StepExit;

constexpr wchar_t kLogPlace[] = L"install";

StepExit ExitOf(delta::Status status) {
    switch (status) {
    case delta::Status::Ok: return StepExit::Done;
    case delta::Status::NoRoom: return StepExit::NoRoom;
    // The commit restored what it had replaced: the full archive gets its own chance.
    case delta::Status::CannotWrite: return StepExit::WriteFailed;
    case delta::Status::Untrusted: return StepExit::NotSignedByPublisher;
    default: return StepExit::DeltaRefused;
    }
}

}  // namespace

InstallOutcome InstallDownloadedDelta(const std::wstring& folder, const std::wstring& package,
                                      const integrity::ExpectedArchive& expected, const integrity::UpdateKeys& keys,
                                      const std::function<void()>& between_blocks, const delta::ApplyProgress& progress,
                                      const unzip::StagedCheck& check) {
    InstallOutcome outcome;
    const std::wstring work_copy = folder + update_flow::kDeltaPath;
    if (!TakeIntoWorkFolder(folder, package, work_copy, expected, between_blocks, outcome)) return outcome;
    struct RemoveCopy {
        const std::wstring& path;
        ~RemoveCopy() { DeleteFileW(path.c_str()); }
    } remove_copy{work_copy};
    // Read sharing only: from the check to the end of the apply nobody writes, renames or removes it (the
    // applier's own reads share it).
    win::unique_hfile held(CreateFileW(work_copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    const integrity::ArchiveVerdict verdict = services::CheckOpenArchive(held ? held.get() : nullptr, expected, keys, between_blocks);
    if (verdict != integrity::ArchiveVerdict::Matches) {
        outcome.exit = StepExitOf(verdict);
        win::diag::Record(kLogPlace, L"delta refused", static_cast<unsigned long>(outcome.exit));
        return outcome;
    }
    services::Win32FileSystem files;
    services::BcryptSha256Provider sha256;
    const delta::Result applied =
        delta::ApplyDelta(files, sha256, services::Utf8(folder), services::Utf8(work_copy), {}, progress, check);
    outcome.exit = ExitOf(applied.status);
    if (outcome.exit == StepExit::Done) {
        for (const std::string& name : applied.committed) outcome.committed.push_back(services::Wide(name));
        win::diag::Record(kLogPlace, L"delta applied: " + std::to_wstring(outcome.committed.size()) + L" files");
        // A new launcher waits in the staging folder while this one runs; its copy takes over, as after an archive.
        services::StartDeferredProgram(folder);
        return outcome;
    }
    outcome.reason = services::Wide(std::string(delta::StatusText(applied.status)) +
                                    (applied.file.empty() ? "" : ": " + applied.file) +
                                    (applied.detail.empty() ? "" : " (" + applied.detail + ")"));
    win::diag::Record(kLogPlace, L"delta not applied: " + outcome.reason, static_cast<unsigned long>(outcome.exit));
    return outcome;
}

std::wstring DeltaWouldNotApply(const std::wstring& folder, const std::wstring& package, const std::wstring& scratch,
                                const delta::ApplyProgress& progress) {
    services::Win32FileSystem files;
    services::BcryptSha256Provider sha256;
    unzip::InstallPaths paths;
    paths.folder = unzip::NormaliseFolder(services::Utf8(folder));
    paths.work = unzip::NormaliseFolder(services::Utf8(scratch));
    if (!unzip::MakePath(files, paths.work)) return L"the check's folder cannot be made";
    files.RemoveTree(paths.Stage());
    const delta::Result staged = delta::StageDelta(files, sha256, paths, services::Utf8(package), progress);
    files.RemoveTree(paths.Stage());
    files.RemoveFolder(paths.work);
    if (staged.status == delta::Status::Ok) return L"";
    return services::Wide(std::string(delta::StatusText(staged.status)) + (staged.file.empty() ? "" : ": " + staged.file));
}

std::optional<integrity::ExpectedArchive> DeltaForInstalledClient(const std::wstring& folder, const manifest::Manifest& m) {
    const std::string installed = services::Utf8(services::GetFileVersionText(folder + update_flow::kClientPath));
    for (const manifest::DeltaOffer& offer : m.deltas)
        if (offer.from == installed) return integrity::ParseExpectedArchive(offer.size, offer.sha256, offer.signature);
    return std::nullopt;
}

}  // namespace vantorix::launcher
