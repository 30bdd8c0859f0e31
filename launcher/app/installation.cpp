#include "launcher/app/installation.h"

#include <windows.h>

#include <vector>

#include "common/update_flow/update_flow.h"
#include "launcher/services/install_state_store.h"
#include "win/per_user_folder.h"
#include "win/unique_handle.h"

namespace vantorix::launcher {

namespace {

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

Installation Installation::OfThisProgram() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n < buffer.size()) {
            std::wstring path(buffer.data(), n);
            return Installation(path.substr(0, path.find_last_of(L'\\')));
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool Installation::Exists(const std::wstring& relative) const { return FileExists(Path(relative)); }

std::wstring Installation::PerUserFolder() const {
    const std::wstring product = win::PerUserProductFolder(), id = services::InstallationId(folder_);
    return product.empty() || id.empty() ? L"" : product + L"\\" + id;
}

namespace {

bool WriteMarkerFile(const std::wstring& marker) {
    const std::wstring text = update_flow::kMarkerText;
    int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
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
    return !per_user.empty() && FileExists(per_user);
}

void Installation::EnsureUpdateFolder() const {
    CreateDirectoryW(update_flow::UpdateFolderOf(folder_).c_str(), nullptr);
}

}  // namespace vantorix::launcher
