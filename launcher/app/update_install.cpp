#include "launcher/app/update_install.h"

#include <windows.h>
#include <sddl.h>

#include <vector>

#include "common/update_flow/update_flow.h"
#include "launcher/app/control_library.h"
#include "launcher/services/archive_check.h"
#include "launcher/services/install_archive.h"
#include "launcher/services/process_cost.h"
#include "launcher/services/services.h"
#include "launcher/services/wide_text.h"
#include "launcher/services/win32_file_system.h"
#include "win/diagnostic_log.h"
#include "win/unique_handle.h"

namespace vantorix::launcher {

namespace {

using update_flow::StepExit;

constexpr DWORD kCopyBlock = 1 << 20;

}  // namespace

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

namespace {

// Copies the user's file to `target`, a new file only SYSTEM and the administrators may open, refusing
// anything but one plain file (no link, no device, no second name of another file); at most `limit` bytes,
// a larger source is refused later by its size.
bool CopyIntoInstallation(const std::wstring& source, const std::wstring& target, unsigned long long limit,
                          const std::function<void()>& between_blocks, std::wstring& why) {
    win::unique_hfile from(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!from || GetFileType(from.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(from.get(), &info)) {
        why = L"the archive cannot be opened (error " + std::to_wstring(GetLastError()) + L")";
        return false;
    }
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY) || info.nNumberOfLinks != 1) {
        why = L"the archive is not a plain file of its own";
        return false;
    }
    win::unique_hlocal<> descriptor;
    // Full access for SYSTEM and the administrators, none inherited: the copy is not the user's to read.
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)", SDDL_REVISION_1, descriptor.put(),
                                                              nullptr)) {
        why = L"no security descriptor (error " + std::to_wstring(GetLastError()) + L")";
        return false;
    }
    SECURITY_ATTRIBUTES security{sizeof security, descriptor.get(), FALSE};
    DeleteFileW(target.c_str());
    win::unique_hfile to(CreateFileW(target.c_str(), GENERIC_WRITE, 0, &security, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!to) {
        why = L"the copy cannot be made (error " + std::to_wstring(GetLastError()) + L")";
        return false;
    }
    std::vector<char> block(kCopyBlock);
    unsigned long long copied = 0;
    for (;;) {
        DWORD got = 0, written = 0;
        if (!ReadFile(from.get(), block.data(), kCopyBlock, &got, nullptr) ||
            (got && (!WriteFile(to.get(), block.data(), got, &written, nullptr) || written != got))) {
            why = L"the copy failed (error " + std::to_wstring(GetLastError()) + L")";
            to.reset();
            DeleteFileW(target.c_str());
            return false;
        }
        copied += got;
        if (got == 0 || copied >= limit) break;
        if (between_blocks) between_blocks();
    }
    return FlushFileBuffers(to.get()) != 0;
}

}  // namespace

bool TakeIntoWorkFolder(const std::wstring& folder, const std::wstring& source, const std::wstring& work_copy,
                        const integrity::ExpectedArchive& expected, const std::function<void()>& between_blocks,
                        InstallOutcome& outcome) {
    if (SamePath(source, work_copy)) return true;
    // Copied first, checked after: what is checked is what is installed, out of the user's reach.
    CreateDirectoryW(update_flow::UpdateFolderOf(folder).c_str(), nullptr);
    const unsigned long long limit = expected.size ? *expected.size + 1 : integrity::kMaxArchiveSize + 1;
    if (CopyIntoInstallation(source, work_copy, limit, between_blocks, outcome.reason)) return true;
    outcome.exit = StepExit::ArchiveUnreadable;
    win::diag::Record(L"install", outcome.reason);
    return false;
}

StepExit StepExitOf(integrity::ArchiveVerdict verdict) {
    switch (verdict) {
    case integrity::ArchiveVerdict::Matches: return StepExit::Done;
    case integrity::ArchiveVerdict::WrongSize: return StepExit::WrongSize;
    case integrity::ArchiveVerdict::WrongHash: return StepExit::WrongHash;
    case integrity::ArchiveVerdict::MissingSignature: return StepExit::MissingSignature;
    case integrity::ArchiveVerdict::BadSignature: return StepExit::BadSignature;
    case integrity::ArchiveVerdict::Unreadable: break;
    }
    return StepExit::ArchiveUnreadable;
}

namespace {

StepExit ExitOf(services::UnzipStatus status) {
    switch (status) {
    case services::UnzipStatus::Ok: return StepExit::Done;
    case services::UnzipStatus::NoRoom: return StepExit::NoRoom;
    case services::UnzipStatus::CannotCreateFolder:
    case services::UnzipStatus::CannotWriteFile: return StepExit::WriteFailed;
    case services::UnzipStatus::Busy: return StepExit::InstallBusy;
    case services::UnzipStatus::Untrusted: return StepExit::NotSignedByPublisher;
    default: return StepExit::ArchiveRejected;
    }
}

}  // namespace

InstallOutcome InstallDownloadedArchive(const std::wstring& folder, const std::wstring& archive,
                                        const integrity::ExpectedArchive& expected, const integrity::UpdateKeys& keys,
                                        const std::function<void()>& between_blocks, const unzip::UnpackProgress& progress,
                                        const unzip::StagedCheck& check) {
    InstallOutcome outcome;
    const std::wstring work_copy = folder + update_flow::kArchivePath;
    if (!TakeIntoWorkFolder(folder, archive, work_copy, expected, between_blocks, outcome)) return outcome;
    // The copy in the work folder is held, refusing writers, from its check to the end of its unpacking.
    services::InstallProgress steps;
    steps.between_blocks = between_blocks;
    steps.unpacked = progress;
    steps.checked = [] { win::diag::Record(L"install", L"archive checked, " + services::ProcessCostText()); };
    const services::InstallResult installed = services::InstallArchive(folder, work_copy, expected, keys, steps, check);
    if (installed.refused) {
        outcome.exit = StepExitOf(*installed.refused);
        win::diag::Record(L"install", L"archive refused", static_cast<unsigned long>(outcome.exit));
        DeleteFileW(work_copy.c_str());
        return outcome;
    }
    outcome.exit = ExitOf(installed.unpacked.status);
    if (outcome.exit == StepExit::Done) {
        outcome.committed = installed.files;
        win::diag::Record(L"install", L"installed " + std::to_wstring(outcome.committed.size()) + L" files");
        return outcome;
    }
    const services::UnzipResult& unpacked = installed.unpacked;
    outcome.reason = unpacked.status == services::UnzipStatus::NoRoom
                         ? unpacked.entry
                         : std::wstring(services::UnzipStatusText(unpacked.status)) +
                               (unpacked.entry.empty() ? L"" : L": " + unpacked.entry);
    win::diag::Record(L"install", L"not installed: " + std::wstring(services::UnzipStatusText(unpacked.status)),
                      static_cast<unsigned long>(outcome.exit));
    DeleteFileW(work_copy.c_str());
    return outcome;
}

bool CarriesEngineOrControlLibrary(const std::vector<std::wstring>& committed) {
    for (const std::wstring& name : committed) {
        const std::wstring rooted = L"\\" + name;
        if (SamePath(rooted, kEngineInInstallation) || SamePath(rooted, kControlInInstallation)) return true;
    }
    return false;
}

}  // namespace vantorix::launcher
