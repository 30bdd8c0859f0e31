#include "launcher/app/protected_installation.h"

#include <windows.h>

#include <vector>

#include "launcher/services/wide_text.h"
#include "win/final_path.h"
#include "win/folder_security.h"
#include "win/registry_text.h"
#include "win/unique_handle.h"

namespace vantorix::launcher {

namespace {

constexpr wchar_t kUninstallRoot[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr wchar_t kEntryName[] = L"VantorixAssist";
constexpr int kMaxEntries = 20;  // the setup's MAX_ENTRIES
constexpr wchar_t kInstallLocation[] = L"InstallLocation";

struct OpenedFolder {
    win::unique_hfile handle;
    std::wstring resolved;
    BY_HANDLE_FILE_INFORMATION info{};
};

std::optional<OpenedFolder> OpenFolder(const std::wstring& path, DWORD access) {
    OpenedFolder folder;
    folder.handle.reset(CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder.handle || !GetFileInformationByHandle(folder.handle.get(), &folder.info) ||
        !(folder.info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    folder.resolved = win::FinalPathOf(folder.handle.get());
    if (folder.resolved.empty()) return std::nullopt;
    // A folder's resolved path ends without "\", a drive's root keeps it ("C:\").
    if (folder.resolved.size() > 3 && folder.resolved.back() == L'\\') folder.resolved.pop_back();
    return folder;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool Same(const OpenedFolder& a, const OpenedFolder& b) {
    return SameText(a.resolved, b.resolved) && a.info.dwVolumeSerialNumber == b.info.dwVolumeSerialNumber &&
           a.info.nFileIndexHigh == b.info.nFileIndexHigh && a.info.nFileIndexLow == b.info.nFileIndexLow;
}

// "C:\a\b" -> "C:\a", "C:\a" -> "C:\", "C:\" -> "".
std::wstring Parent(const std::wstring& folder) {
    if (folder.size() <= 3) return L"";
    const size_t cut = folder.find_last_of(L'\\');
    if (cut == std::wstring::npos) return L"";
    return cut <= 2 ? folder.substr(0, 3) : folder.substr(0, cut);
}

}  // namespace

std::vector<std::wstring> RegisteredInstallFolders() {
    std::vector<std::wstring> folders;
    for (int n = 1; n <= kMaxEntries; ++n) {
        const std::wstring key = std::wstring(kUninstallRoot) + kEntryName + (n == 1 ? L"" : L"-" + std::to_wstring(n));
        const win::unique_hkey entry = win::OpenMachineKey(key);
        if (!entry) continue;
        const auto location = win::ReadTextValue(entry.get(), kInstallLocation);
        if (location && !location->empty()) folders.push_back(*location);
    }
    return folders;
}

std::optional<std::wstring> ResolvedFolder(const std::wstring& folder) {
    auto opened = OpenFolder(folder, 0);
    if (!opened) return std::nullopt;
    return opened->resolved;
}

bool SameFolder(const std::wstring& a, const std::wstring& b) {
    const auto first = OpenFolder(a, 0), second = OpenFolder(b, 0);
    return first && second && Same(*first, *second);
}

std::optional<folder_rights::FolderSecurity> ReadFolderSecurity(const std::wstring& folder, unsigned long& error) {
    auto opened = OpenFolder(folder, READ_CONTROL);
    if (!opened) {
        error = GetLastError();
        return std::nullopt;
    }
    DWORD code = 0;
    auto security = win::ReadFolderSecurity(opened->handle.get(), code);
    error = code;
    return security;
}

std::wstring WhyNotProtected(const std::wstring& resolved_folder) {
    if (resolved_folder.size() < 3 || resolved_folder[1] != L':' || resolved_folder[2] != L'\\')
        return resolved_folder + L": not a folder on a local drive";
    const std::vector<std::string> trusted = win::TrustedBesidesTheAdministrators();
    auto role = folder_rights::FolderRole::Installation;
    for (std::wstring level = resolved_folder; !level.empty(); level = Parent(level)) {
        auto opened = OpenFolder(level, READ_CONTROL);
        if (!opened) return level + L": cannot be opened (error " + std::to_wstring(GetLastError()) + L")";
        // Each level is a folder of the resolved path: one that resolves elsewhere is a link put in since.
        if (!SameText(opened->resolved, level)) return level + L": resolves to " + opened->resolved;
        DWORD error = 0;
        const auto security = win::ReadFolderSecurity(opened->handle.get(), error);
        if (!security) return level + L": its security descriptor cannot be read (error " + std::to_wstring(error) + L")";
        const folder_rights::Verdict verdict = folder_rights::JudgeFolder(*security, role, trusted);
        if (!verdict.passes) return level + L": " + services::Wide(verdict.why);
        role = folder_rights::FolderRole::Above;
    }
    return L"";
}

StepInstallation CheckStepInstallation(const std::wstring& image_folder) {
    StepInstallation result;
    const auto image = OpenFolder(image_folder, 0);
    if (!image) {
        result.findings.push_back(L"this program's folder cannot be opened (error " + std::to_wstring(GetLastError()) + L")");
    }
    const std::vector<std::wstring> registered = RegisteredInstallFolders();
    if (registered.empty()) result.findings.push_back(L"no installation is registered by the setup");
    bool registered_here = false;
    std::vector<std::wstring> others;  // registered installations that are not this program's
    for (const std::wstring& text : registered) {
        auto folder = OpenFolder(text, 0);
        if (!folder) continue;  // a registered folder that is gone (uninstalled by hand)
        if (!image || !Same(*image, *folder)) {
            others.push_back(folder->resolved);
            continue;
        }
        registered_here = true;
        const std::wstring why = WhyNotProtected(folder->resolved);
        if (why.empty()) {
            result.accepted = true;
            result.folder = result.log_folder = folder->resolved;
            return result;
        }
        result.findings.push_back(L"the installation " + folder->resolved + L" is not protected: " + why);
    }
    if (image && !registered_here)
        result.findings.push_back(L"this program's folder " + image->resolved + L" is not an installation the setup registered");
    // The refusal is written where the step may write: an installation that is the setup's and protected.
    for (const std::wstring& other : others) {
        if (WhyNotProtected(other).empty()) {
            result.log_folder = other;
            break;
        }
    }
    return result;
}

}  // namespace vantorix::launcher
