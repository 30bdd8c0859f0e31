#include "launcher/services/install_archive.h"

#include <windows.h>

#include <vector>

#include "common/unzip/install_commit.h"
#include "launcher/services/wide_text.h"
#include "launcher/services/win32_file_system.h"
#include "win/diagnostic_log.h"
#include "win/unique_handle.h"

namespace vantorix::services {
namespace {

using win::unique_hfile;

constexpr DWORD kCopyBlock = 1 << 20;

enum class Copied { Done, Unreadable, Unwritable };

// Copies the whole source into the fresh file, both open; the caller's window gets its turn between blocks.
Copied CopyInto(HANDLE source, HANDLE copy, const std::function<void()>& between_blocks) {
    std::vector<char> block(kCopyBlock);
    for (;;) {
        DWORD got = 0, put = 0;
        if (!ReadFile(source, block.data(), kCopyBlock, &got, nullptr)) return Copied::Unreadable;
        if (got == 0) return Copied::Done;
        if (!WriteFile(copy, block.data(), got, &put, nullptr) || put != got) return Copied::Unwritable;
        if (between_blocks) between_blocks();
    }
}

}  // namespace

InstallResult InstallArchive(const std::wstring& installation, const std::wstring& archive,
                             const integrity::ExpectedArchive& expected, const integrity::UpdateKeys& keys,
                             const InstallProgress& progress, const unzip::StagedCheck& check) {
    InstallResult result;
    auto not_installed = [&](UnzipStatus status, const std::string& entry) {
        result.unpacked.status = status;
        result.unpacked.entry = Wide(entry);
        return result;
    };
    Win32FileSystem files;
    unzip::InstallPaths paths = InstallPathsOf(installation);
    if (!unzip::MakePath(files, paths.work)) return not_installed(UnzipStatus::CannotCreateFolder, paths.work);
    if (!files.IsOwnFolder(paths.work)) return not_installed(UnzipStatus::CannotWriteFile, paths.work);
    bool busy = false;
    auto lock = unzip::LockInstall(files, paths.work, busy);
    if (!lock) return not_installed(busy ? UnzipStatus::Busy : UnzipStatus::CannotWriteFile, paths.Lock());

    // Read sharing only: from here to the end of the unpacking nobody writes, renames or removes it.
    unique_hfile source(CreateFileW(archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source) {
        result.refused = integrity::ArchiveVerdict::Unreadable;
        return result;
    }
    unique_hfile copy;
    const std::string name = Utf8(FileNamePart(archive));
    if (!name.empty() && Win32FileSystem::IsFileAt(source.get(), paths.work + name)) {
        paths.archive = name;
    } else {
        // From elsewhere (a folder the user can change, or a link): into a new file of the work folder.
        paths.archive = kInstalledArchiveName;
        const std::string target = paths.work + paths.archive;
        files.RemoveFile(target);
        copy.reset(CreateFileW(Wide(target).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!copy) return not_installed(UnzipStatus::CannotWriteFile, target);
        const Copied copied = Win32FileSystem::IsFileAt(copy.get(), target)
                                  ? CopyInto(source.get(), copy.get(), progress.between_blocks)
                                  : Copied::Unwritable;
        source.reset();
        if (copied != Copied::Done) {
            copy.reset();
            files.RemoveFile(target);
            if (copied == Copied::Unreadable) result.refused = integrity::ArchiveVerdict::Unreadable;
            return copied == Copied::Unreadable ? result : not_installed(UnzipStatus::CannotWriteFile, target);
        }
    }
    const bool copied_in = static_cast<bool>(copy);
    HANDLE held = copied_in ? copy.get() : source.get();
    const std::string held_path = paths.work + paths.archive;

    const integrity::ArchiveVerdict verdict = CheckOpenArchive(held, expected, keys, progress.between_blocks);
    if (verdict != integrity::ArchiveVerdict::Matches) {
        result.refused = verdict;
        if (copied_in) {
            copy.reset();
            files.RemoveFile(held_path);
        }
        return result;
    }
    if (progress.checked) progress.checked();
    const unzip::Result unpacked = unzip::UnzipOpenedArchive(files, paths, Win32FileSystem::OpenArchiveOver(held), progress.unpacked, check);
    source.reset();
    copy.reset();
    result.unpacked = ToUnzipResult(unpacked);
    for (const std::string& file : unpacked.files) result.files.push_back(Wide(file));
    // Installed, this process settles its own install now that it no longer holds the archive: every
    // committed file read back whole, the work files and the archive go (the archive before the journal
    // that names it). Refused, a copy of ours goes as well.
    if (unpacked.status == unzip::Status::Ok) {
        const unzip::Recovery settled = unzip::SettleCommitted(files, paths);
        if (settled == unzip::Recovery::Failed)
            win::diag::Record(L"install", L"a committed file is not whole: the journal stays for the next start");
        if (settled != unzip::Recovery::Finished) files.RemoveFile(held_path);
    } else if (copied_in) {
        files.RemoveFile(held_path);
    }
    lock.reset();
    if (unpacked.status == unzip::Status::Ok && !unpacked.deferred.empty()) StartDeferredProgram(installation);
    return result;
}

}  // namespace vantorix::services
