#include "launcher/app/installation.h"

#include <windows.h>

#include <vector>

#include "common/update_flow/update_flow.h"
#include "launcher/services/install_state_store.h"
#include "win/code_page.h"
#include "win/file_exists.h"
#include "win/module_path.h"
#include "win/per_user_folder.h"
#include "win/unique_handle.h"

namespace vantorix::launcher {

Installation Installation::OfThisProgram() { return Installation(win::ModuleFolder()); }

std::wstring Installation::Path(const std::wstring& relative) const { return win::JoinPath(folder_, relative); }

bool Installation::Exists(const std::wstring& relative) const { return win::FileExists(Path(relative)); }

std::wstring Installation::PerUserFolder() const {
    const std::wstring product = win::PerUserProductFolder(), id = services::InstallationId(folder_);
    return product.empty() || id.empty() ? L"" : product + L"\\" + id;
}

namespace {

bool WriteMarkerFile(const std::wstring& marker) {
    const std::string bytes = win::ToCodePage(update_flow::kMarkerText);
    win::unique_hfile file(
        CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// The per-user marker: the installation's file name in the per-user folder.
std::wstring PerUserMarker(const Installation& installation) {
    const std::wstring folder = installation.PerUserFolder();
    return folder.empty() ? L"" : folder + L"\\installock.txt";
}

}  // namespace

bool Installation::CreateMarker() const {
    const std::wstring marker = Path(update_flow::kMarkerPath);
    CreateDirectoryW(marker.substr(0, marker.find_last_of(L'\\')).c_str(), nullptr);
    if (WriteMarkerFile(marker)) return true;
    const DWORD error = GetLastError();
    const std::wstring per_user = PerUserMarker(*this);
    if (error != ERROR_ACCESS_DENIED || per_user.empty() || !win::MakeFoldersAbove(per_user)) {
        SetLastError(error);
        return false;
    }
    return WriteMarkerFile(per_user);
}

bool Installation::MarkerExists() const {
    if (Exists(update_flow::kMarkerPath)) return true;
    const std::wstring per_user = PerUserMarker(*this);
    return !per_user.empty() && win::FileExists(per_user);
}

void Installation::EnsureUpdateFolder() const {
    CreateDirectoryW(update_flow::UpdateFolderOf(folder_).c_str(), nullptr);
}

}  // namespace vantorix::launcher
