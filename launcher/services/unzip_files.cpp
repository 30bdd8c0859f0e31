// Unzip on Windows: the module's functions over the extractor and its Win32 file system, and the hand-over
// of the launcher's own file to its staged copy.
#include <windows.h>

#include "common/unzip/extract.h"
#include "common/unzip/install_commit.h"
#include "common/unzip/paths.h"
#include "launcher/services/services.h"
#include "launcher/services/win32_file_system.h"
#include "launcher/services/wide_text.h"
#include "win/diagnostic_log.h"
#include "win/file_exists.h"
#include "win/module_path.h"
#include "win/process.h"

namespace vantorix::services {
namespace {

// The program's own file in its installation's staging folder: the copy that puts itself in place.
std::wstring StagedCopyOfThisProgram(const unzip::InstallPaths& paths) {
    const std::wstring self = win::ModulePath();
    if (self.empty()) return L"";
    Win32FileSystem files;
    const std::string path = Utf8(self);
    if (files.FoldCase(path).compare(0, paths.folder.size(), files.FoldCase(paths.folder)) != 0) return L"";
    return Wide(paths.Stage() + path.substr(paths.folder.size()));
}

}  // namespace

unzip::InstallPaths InstallPathsOf(const std::wstring& folder) {
    unzip::InstallPaths paths;
    paths.folder = unzip::NormaliseFolder(Utf8(folder));
    paths.work = paths.folder + std::string(unzip::kWorkFolder);
    return paths;
}

UnzipResult ToUnzipResult(const unzip::Result& r) {
    UnzipResult result;
    result.status = r.status;
    result.entry = Wide(r.status == unzip::Status::NoRoom      ? r.detail
                        : r.status == unzip::Status::Untrusted ? r.entry + ": " + r.detail
                                                               : r.entry);
    result.files_written = r.files_written;
    return result;
}

UnzipResult UnzipToFolder(const std::wstring& folder, const std::wstring& archive, const unzip::UnpackProgress& progress) {
    Win32FileSystem files;
    return ToUnzipResult(unzip::UnzipToFolder(files, Utf8(folder), Utf8(archive), {}, progress));
}

namespace {
bool g_elevated_step = false;
}  // namespace

void BecomeElevatedStep() { g_elevated_step = true; }
bool IsElevatedStep() { return g_elevated_step; }

bool StartDeferredProgram(const std::wstring& folder) {
    // The elevated steps start nothing: a program in the staging folder is never run with their rights.
    if (IsElevatedStep()) {
        win::diag::Record(L"install", L"an elevated step starts no program: the staged launcher is left as it is");
        return false;
    }
    const std::wstring copy = StagedCopyOfThisProgram(InstallPathsOf(folder));
    if (copy.empty() || !win::FileExists(copy)) return false;
    if (win::StartProgram(copy, {}, SW_HIDE, folder)) return true;
    win::diag::RecordLastError(L"install", L"cannot start the staged launcher that replaces this one");
    return false;
}

InstallRecovery RecoverInterruptedInstall(const std::wstring& folder, std::wstring* file) {
    Win32FileSystem files;
    std::string decided;
    const unzip::Recovery recovery = unzip::RecoverInstall(files, InstallPathsOf(folder), &decided);
    if (file) *file = Wide(decided);
    switch (recovery) {
        case unzip::Recovery::Nothing: return InstallRecovery::Nothing;
        case unzip::Recovery::RolledBack: return InstallRecovery::RolledBack;
        case unzip::Recovery::Finished: return InstallRecovery::Finished;
        case unzip::Recovery::Busy: return InstallRecovery::Busy;
        case unzip::Recovery::Discarded: return InstallRecovery::Discarded;
        case unzip::Recovery::NoLock:
            // The lock file cannot be opened for writing: the installation is not this user's to settle.
            if (files.LastLockError() == ERROR_ACCESS_DENIED) return InstallRecovery::NotPermitted;
            break;
        case unzip::Recovery::Pending:
            // The copy that should have put itself in place is not running (killed, or given up waiting).
            StartDeferredProgram(folder);
            return InstallRecovery::Pending;
        case unzip::Recovery::Failed: break;
    }
    return InstallRecovery::Failed;
}

std::optional<std::wstring> InstallationOfStagedCopy() {
    const std::wstring path = win::ModulePath();
    if (path.empty()) return std::nullopt;
    // "<installation>\update\stage\<file name>", compared as Windows compares names.
    const std::wstring folder = FolderPart(path);
    const std::wstring marker = Wide(std::string("\\") + std::string(unzip::kWorkFolder) + std::string(unzip::kStageFolder));
    Win32FileSystem files;
    if (folder.size() <= marker.size() ||
        files.FoldCase(Utf8(folder.substr(folder.size() - marker.size()))) != files.FoldCase(Utf8(marker)))
        return std::nullopt;
    return folder.substr(0, folder.size() - marker.size());
}

int FinishDeferredInstall(const std::wstring& folder, unsigned long wait_ms) {
    Win32FileSystem files;
    const unzip::InstallPaths paths = InstallPathsOf(folder);
    const ULONGLONG until = GetTickCount64() + wait_ms;
    for (;;) {
        switch (unzip::FinishDeferred(files, paths)) {
        case unzip::Recovery::Finished:
        case unzip::Recovery::Nothing: return 0;
        default: break;
        }
        // The program this copy replaces still runs (or another process holds the lock): its end is what
        // this waits for, within the bound; the next start of the program hands over again otherwise.
        if (GetTickCount64() >= until) {
            win::diag::Record(L"install", L"the staged launcher gave up waiting for the running one to end");
            return 1;
        }
        Sleep(kDeferredRetryMs);
    }
}

std::optional<std::wstring> MakePath(const std::wstring& path) {
    Win32FileSystem files;
    auto made = unzip::MakePath(files, Utf8(path));
    if (!made) return std::nullopt;
    return Wide(*made);
}

std::wstring FileNamePart(const std::wstring& path) { return unzip::FileNamePart(path); }
std::wstring FolderPart(const std::wstring& path) { return unzip::FolderPart(path); }

const wchar_t* UnzipStatusText(UnzipStatus status) {
    switch (status) {
        case UnzipStatus::Ok: return L"unpacked";
        case UnzipStatus::NotAnArchive: return L"not a readable ZIP archive";
        case UnzipStatus::EmptyArchive: return L"archive holds no entries";
        case UnzipStatus::UnsafeName: return L"entry name not allowed";
        case UnzipStatus::DamagedEntry: return L"damaged entry";
        case UnzipStatus::CannotCreateFolder: return L"cannot create folder";
        case UnzipStatus::CannotWriteFile: return L"cannot write file";
        case UnzipStatus::EncryptedEntry: return L"encrypted entry";
        case UnzipStatus::NoRoom: return L"not enough free disk space";
        case UnzipStatus::Busy: return L"another install is under way";
        case UnzipStatus::Untrusted: return L"refused before the commit";
    }
    return L"?";
}

}  // namespace vantorix::services
