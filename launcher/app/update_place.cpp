#include "launcher/app/update_place.h"

#include <windows.h>

#include "common/update_flow/update_flow.h"
#include "launcher/download/win_file_store.h"
#include "win/diagnostic_log.h"
#include "win/file_exists.h"
#include "win/per_user_folder.h"
#include "win/unique_handle.h"

namespace vantorix::launcher {

namespace {

std::wstring Trim(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring::npos) return L"";
    return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

void RemoveWithSideFiles(const std::wstring& file) {
    for (const std::wstring& path : {file, file + L".dl", file + L".dl.cfg", file + L".dl.tag"}) DeleteFileW(path.c_str());
}

}  // namespace

std::wstring ReadSideFileUrl(const std::wstring& path) {
    // Read as the downloader reads it, so both agree on what the file says.
    const std::optional<std::wstring> text = WinFileStore().ReadText(path);
    return text ? Trim(*text) : L"";
}

FolderAccess ProbeFolder(const std::wstring& folder) {
    // A name of this process's own, so two launchers probing at once do not meet; deleted on close.
    const std::wstring probe = folder + L"\\write-probe-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    win::unique_hfile file(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (file) return FolderAccess::Writable;
    const DWORD error = GetLastError();
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) return FolderAccess::Missing;
    win::diag::Record(L"update place", L"the installation's update folder cannot be written", error);
    return FolderAccess::Denied;
}

UpdatePlace UpdatePlace::For(const Installation& installation) {
    const std::wstring own = update_flow::UpdateFolderOf(installation.Folder());
    const FolderAccess access = ProbeFolder(own);
    const std::wstring per_user = installation.PerUserFolder();
    if (access != FolderAccess::Denied || per_user.empty()) {
        win::diag::Record(L"update place", access == FolderAccess::Missing
                                               ? L"no update folder: the download goes there and fails"
                                               : L"the launcher installs updates itself");
        return UpdatePlace(own, false);
    }
    win::diag::Record(L"update place", L"download to the user's folder, install through the elevated step");
    return UpdatePlace(per_user + L"\\update", true);
}

bool UpdatePlace::Prepare() const {
    if (!elevated_install_) return true;
    if (win::MakeFoldersAbove(Archive())) return true;
    win::diag::RecordLastError(L"update place", L"the user's update folder cannot be made");
    return false;
}

void UpdatePlace::ClearStaleArchive(const std::wstring& url, bool delta) const {
    const std::wstring archive = delta ? Delta() : Archive();
    const std::wstring data = archive + L".dl", settings = archive + L".dl.cfg";
    DeleteFileW(archive.c_str());
    DeleteFileW(ManifestCopy().c_str());
    // Side files of the same URL are a download to resume; any others (another URL, or one of the pair
    // missing) would only push the downloader to a numbered name.
    const bool resumable = win::FileExists(data) && win::FileExists(settings) && ReadSideFileUrl(settings) == Trim(url);
    if (!resumable) {
        DeleteFileW(data.c_str());
        DeleteFileW(settings.c_str());
        DeleteFileW((data + L".tag").c_str());
    }
}

void UpdatePlace::DeleteArchive() const {
    // The downloader's side files go with it: a refused archive must not be resumed into again.
    RemoveWithSideFiles(Archive());
    RemoveWithSideFiles(Delta());
    DeleteFileW(ManifestCopy().c_str());
}

void UpdatePlace::DeleteDelta() const { RemoveWithSideFiles(Delta()); }

}  // namespace vantorix::launcher
