#include "win/per_user_folder.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include "win/file_exists.h"
#include "win/unique_handle.h"

namespace vantorix::win {

std::wstring KnownFolderPath(const GUID& id) {
    unique_cotaskmem<wchar_t> path;
    if (FAILED(SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, path.put())) || !path) return {};
    return path.get();
}

std::wstring PerUserProductFolder() {
    const std::wstring local = KnownFolderPath(FOLDERID_LocalAppData);
    return local.empty() ? local : local + L"\\VantorixAssist";
}

bool MakeFoldersAbove(const std::wstring& file) {
    const size_t cut = file.find_last_of(L'\\');
    if (cut == std::wstring::npos || cut < 3) return true;
    const std::wstring folder = file.substr(0, cut);
    if (IsRealFolder(folder)) return true;
    if (PathExists(folder)) return false;  // a file or a link where the folder belongs
    return MakeFoldersAbove(folder) && (CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
}

}  // namespace vantorix::win
