// FolderRights.exe check|protect FOLDER: the setup's guard on the folder it installs into. Whatever lies
// there is later run elevated (the launcher's elevated steps, the control library it registers), so only
// SYSTEM, the Administrators and TrustedInstaller may change it, as in "Program Files".
//   check    an existing folder: exit 0 when nobody else may write, delete, re-permission or take it
//            over; 3 when someone else may (the reason on the standard output); 1 when its security
//            descriptor cannot be read.
//   protect  a folder the setup has just made: owner Administrators, inheritance cut, SYSTEM and the
//            Administrators full control, the Users read and execute (folder_rights::kProgramFilesSddl),
//            then read back; exit 0 when the folder reads back so, 1 otherwise.
// Both print the descriptor they read in the system's descriptor language ("descriptor: O:BA...").
// Exit 2: not one of the two command lines.
//
// Under Wine, which keeps no access lists: a descriptor that is set is accepted and not kept (no extended
// attribute is written either), and every file reads back with a descriptor made from its Unix owner and
// mode: owned by the Wine user who asks, full control for SYSTEM and that user, and for Everyone what the
// "other" mode bits allow. There the Wine user counts as the administrator (Wine has no other), a folder
// passes when no one else may write it (no "other" write bit), and "protect" says that Wine kept nothing.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <optional>
#include <string>

#include "common/folder_rights/folder_rights.h"
#include "win/system_libraries.h"
#include "win/unique_handle.h"

namespace {

namespace fr = vantorix::folder_rights;
using vantorix::win::unique_local_memory;

std::string SidText(PSID sid) {
    if (!sid) return "";
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return "?";
    unique_local_memory owner(text);
    char narrow[256] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
    return narrow;
}

struct ReadBack {
    fr::Descriptor descriptor;
    bool dacl_protected = false;
    std::wstring sddl;
};

// The folder's owner and access list as the system reports them; nullopt when they cannot be read.
std::optional<ReadBack> Read(const wchar_t* folder) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    const DWORD rc = GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                           &owner, nullptr, &dacl, nullptr, &raw);
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return std::nullopt;
    }
    unique_local_memory descriptor(raw);
    ReadBack result;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (GetSecurityDescriptorControl(raw, &control, &revision)) result.dacl_protected = (control & SE_DACL_PROTECTED) != 0;
    result.descriptor.owner = SidText(owner);
    result.descriptor.has_dacl = dacl != nullptr;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) return std::nullopt;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        fr::Ace ace;
        ace.flags = header->AceFlags;
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
            // Both kinds share the layout: header, mask, SID.
            const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
            ace.allows = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
            ace.mask = allowed->Mask;
            ace.sid = SidText(const_cast<DWORD*>(&allowed->SidStart));
        } else {
            // A kind this check does not read (object or callback entries): counted as a writer.
            ace.sid = "an entry of type " + std::to_string(header->AceType);
            ace.mask = fr::kChangingRights;
        }
        result.descriptor.aces.push_back(ace);
    }
    LPWSTR sddl = nullptr;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(raw, SDDL_REVISION_1,
                                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
        unique_local_memory text(sddl);
        result.sddl = sddl;
    }
    return result;
}

void PrintDescriptor(const ReadBack& read) { std::printf("descriptor: %ls\n", read.sddl.c_str()); }

bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Under Wine, the user it runs as: the owner it reports for every file. "" elsewhere.
std::string WineUser() {
    if (!UnderWine()) return "";
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return "";
    vantorix::win::unique_kernel_handle token(raw);
    BYTE buffer[256] = {};
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size)) return "";
    return SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

int Check(const wchar_t* folder) {
    const auto read = Read(folder);
    if (!read) {
        std::printf("the folder's security descriptor cannot be read (error %lu)\n", GetLastError());
        return 1;
    }
    PrintDescriptor(*read);
    const std::string wine_user = WineUser();
    if (!wine_user.empty()) std::printf("under Wine: its user %s counts as the administrator\n", wine_user.c_str());
    if (const auto others = fr::OtherWriters(read->descriptor, wine_user)) {
        std::printf("others may change the folder: %s\n", others->c_str());
        return 3;
    }
    std::printf("only SYSTEM, the Administrators and TrustedInstaller may change the folder\n");
    return 0;
}

int Protect(const wchar_t* folder) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(fr::kProgramFilesSddl, SDDL_REVISION_1, &raw, nullptr)) {
        std::printf("the descriptor cannot be built (error %lu)\n", GetLastError());
        return 1;
    }
    unique_local_memory descriptor(raw);
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    GetSecurityDescriptorOwner(raw, &owner, &defaulted);
    GetSecurityDescriptorDacl(raw, &present, &dacl, &defaulted);
    const DWORD rc = SetNamedSecurityInfoW(const_cast<wchar_t*>(folder), SE_FILE_OBJECT,
                                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                           owner, nullptr, dacl, nullptr);
    if (rc != ERROR_SUCCESS) {
        std::printf("the folder's rights cannot be set (error %lu)\n", rc);
        return 1;
    }
    const auto read = Read(folder);
    if (!read) {
        std::printf("the folder's rights cannot be read back (error %lu)\n", GetLastError());
        return 1;
    }
    PrintDescriptor(*read);
    if (!fr::IsProgramFilesLike(read->descriptor, read->dacl_protected)) {
        const std::string wine_user = WineUser();
        if (!wine_user.empty() && !fr::OtherWriters(read->descriptor, wine_user)) {
            std::printf("under Wine: the descriptor was not kept; the folder reads back from its Unix owner and mode, "
                        "and only the Wine user %s may change it\n", wine_user.c_str());
            return 0;
        }
        std::printf("the folder's rights did not read back as set\n");
        return 1;
    }
    std::printf("the folder has the rights of Program Files\n");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // It runs elevated from the setup's temporary folder.
    vantorix::win::LoadSystemLibrariesFromSystemFolderOnly();
    if (argc == 3 && std::wstring(argv[1]) == L"check") return Check(argv[2]);
    if (argc == 3 && std::wstring(argv[1]) == L"protect") return Protect(argv[2]);
    std::fputs("usage: FolderRights.exe check|protect FOLDER\n", stderr);
    return 2;
}
