#include "launcher/app/protected_installation.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <type_traits>
#include <vector>

#include "launcher/services/wide_text.h"
#include "win/final_path.h"
#include "win/unique_handle.h"

namespace vantorix::launcher {

namespace {

constexpr wchar_t kUninstallRoot[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr wchar_t kEntryName[] = L"VantorixAssist";
constexpr int kMaxEntries = 20;  // the setup's MAX_ENTRIES
constexpr wchar_t kInstallLocation[] = L"InstallLocation";

struct LocalFreeDeleter {
    void operator()(void* p) const { LocalFree(p); }
};

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

std::string SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!sid || !ConvertSidToStringSidW(sid, &text)) return "";
    std::unique_ptr<void, LocalFreeDeleter> owned(text);
    return services::Utf8(text);
}

protection::AceKind KindOf(BYTE type) {
    switch (type) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: return protection::AceKind::Allow;
    case ACCESS_DENIED_ACE_TYPE:
    case ACCESS_DENIED_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE: return protection::AceKind::Deny;
    default: return protection::AceKind::Unknown;
    }
}

std::optional<protection::FolderSecurity> SecurityOf(HANDLE folder, DWORD& error) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    error = GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                            nullptr, &dacl, nullptr, &raw);
    if (error != ERROR_SUCCESS) return std::nullopt;
    std::unique_ptr<void, LocalFreeDeleter> descriptor(raw);
    protection::FolderSecurity security;
    security.owner = SidText(owner);
    if (!dacl) return security;
    security.dacl.emplace();
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) {
            error = GetLastError();
            return std::nullopt;
        }
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        protection::Ace ace;
        ace.kind = KindOf(header->AceType);
        ace.inherit_only = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
        if (ace.kind == protection::AceKind::Allow) {
            // ACCESS_ALLOWED_ACE and ACCESS_ALLOWED_CALLBACK_ACE share this layout.
            const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
            ace.mask = allowed->Mask;
            ace.sid = SidText(const_cast<DWORD*>(&allowed->SidStart));
        }
        security.dacl->push_back(std::move(ace));
    }
    return security;
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
        HKEY raw = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &raw) != ERROR_SUCCESS)
            continue;
        std::unique_ptr<std::remove_pointer_t<HKEY>, decltype(&RegCloseKey)> entry(raw, &RegCloseKey);
        DWORD type = 0, size = 0;
        if (RegQueryValueExW(raw, kInstallLocation, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ ||
            size < sizeof(wchar_t) || size > 32768 * sizeof(wchar_t))
            continue;
        std::wstring text(size / sizeof(wchar_t), L'\0');
        if (RegQueryValueExW(raw, kInstallLocation, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
            ERROR_SUCCESS)
            continue;
        text.resize(wcsnlen(text.c_str(), text.size()));
        if (!text.empty()) folders.push_back(text);
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

std::optional<protection::FolderSecurity> ReadFolderSecurity(const std::wstring& folder, unsigned long& error) {
    auto opened = OpenFolder(folder, READ_CONTROL);
    if (!opened) {
        error = GetLastError();
        return std::nullopt;
    }
    DWORD code = 0;
    auto security = SecurityOf(opened->handle.get(), code);
    error = code;
    return security;
}

bool RunsUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

std::vector<std::string> TrustedBesidesTheAdministrators() {
    if (!RunsUnderWine()) return {};
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
    win::unique_kernel_handle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (!size || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return {};
    const std::string user = SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
    if (user.empty()) return {};
    return {user};
}

std::wstring WhyNotProtected(const std::wstring& resolved_folder) {
    if (resolved_folder.size() < 3 || resolved_folder[1] != L':' || resolved_folder[2] != L'\\')
        return resolved_folder + L": not a folder on a local drive";
    const std::vector<std::string> trusted = TrustedBesidesTheAdministrators();
    auto role = protection::FolderRole::Installation;
    for (std::wstring level = resolved_folder; !level.empty(); level = Parent(level)) {
        auto opened = OpenFolder(level, READ_CONTROL);
        if (!opened) return level + L": cannot be opened (error " + std::to_wstring(GetLastError()) + L")";
        // Each level is a folder of the resolved path: one that resolves elsewhere is a link put in since.
        if (!SameText(opened->resolved, level)) return level + L": resolves to " + opened->resolved;
        DWORD error = 0;
        const auto security = SecurityOf(opened->handle.get(), error);
        if (!security) return level + L": its security descriptor cannot be read (error " + std::to_wstring(error) + L")";
        const protection::Verdict verdict = protection::JudgeFolder(*security, role, trusted);
        if (!verdict.passes) return level + L": " + services::Wide(verdict.why);
        role = protection::FolderRole::Above;
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
