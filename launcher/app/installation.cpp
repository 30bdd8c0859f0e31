#include "launcher/app/installation.h"

#include <windows.h>

#include <vector>

#include "common/update_flow/update_flow.h"
#include "win/unique_handle.h"

namespace vantorix::launcher {

namespace {

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring Trim(const std::wstring& text) {
    size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring::npos) return L"";
    return text.substr(first, text.find_last_not_of(L' ') - first + 1);
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

bool Installation::CreateMarker() const {
    const std::wstring marker = Path(update_flow::kMarkerPath);
    CreateDirectoryW(marker.substr(0, marker.find_last_of(L'\\')).c_str(), nullptr);
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

void Installation::EnsureUpdateFolder() const {
    CreateDirectoryW(update_flow::UpdateFolderOf(folder_).c_str(), nullptr);
}

std::wstring ReadSideFileUrl(const std::wstring& path) {
    win::unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return L"";
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > 64 * 1024) return L"";
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) return L"";
    bytes.resize(read);
    int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), n);
    return Trim(text);
}

void Installation::ClearStaleArchive(const std::wstring& url) const {
    const std::wstring archive = Path(update_flow::kArchivePath);
    const std::wstring data = archive + L".dl", settings = archive + L".dl.cfg";
    DeleteFileW(archive.c_str());
    // Side files of the same URL are a download to resume; any others (another URL, or one of the pair
    // missing) would only push the downloader to a numbered name.
    bool resumable = FileExists(data) && FileExists(settings) && ReadSideFileUrl(settings) == Trim(url);
    if (!resumable) {
        DeleteFileW(data.c_str());
        DeleteFileW(settings.c_str());
        DeleteFileW((data + L".tag").c_str());
    }
}

void Installation::DeleteArchive() const {
    // The downloader's side files go with it: a refused archive must not be resumed into again.
    const std::wstring archive = Path(update_flow::kArchivePath);
    for (const std::wstring& path : {archive, archive + L".dl", archive + L".dl.cfg", archive + L".dl.tag"})
        DeleteFileW(path.c_str());
}

}  // namespace vantorix::launcher
