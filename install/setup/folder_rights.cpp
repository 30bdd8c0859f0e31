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
#include <vector>

#include "common/folder_rights/folder_rights.h"
#include "win/folder_security.h"
#include "win/system_libraries.h"
#include "win/unique_handle.h"

namespace {

namespace fr = vantorix::folder_rights;
using vantorix::win::unique_local_memory;

struct ReadBack {
    fr::FolderSecurity security;
    std::wstring sddl;
};

// The folder's owner and access list as the system reports them; nullopt (the error set) when they cannot be read.
std::optional<ReadBack> Read(const wchar_t* folder) {
    vantorix::win::unique_hfile handle(CreateFileW(folder, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return std::nullopt;
    ReadBack result;
    DWORD error = 0;
    auto security = vantorix::win::ReadFolderSecurity(handle.get(), error, &result.sddl);
    if (!security) {
        SetLastError(error);
        return std::nullopt;
    }
    result.security = std::move(*security);
    return result;
}

void PrintDescriptor(const ReadBack& read) { std::printf("descriptor: %ls\n", read.sddl.c_str()); }

// Why someone besides SYSTEM, the Administrators, TrustedInstaller (and under Wine its user) may change the
// folder; nullopt when nobody else may.
std::optional<std::string> OtherWriters(const ReadBack& read, const std::vector<std::string>& trusted) {
    const fr::Verdict verdict = fr::JudgeFolder(read.security, fr::FolderRole::Installation, trusted);
    if (verdict.passes) return std::nullopt;
    return verdict.why;
}

int Check(const wchar_t* folder) {
    const auto read = Read(folder);
    if (!read) {
        std::printf("the folder's security descriptor cannot be read (error %lu)\n", GetLastError());
        return 1;
    }
    PrintDescriptor(*read);
    const std::vector<std::string> trusted = vantorix::win::TrustedBesidesTheAdministrators();
    for (const std::string& user : trusted) std::printf("under Wine: its user %s counts as the administrator\n", user.c_str());
    if (const auto others = OtherWriters(*read, trusted)) {
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
    if (!fr::IsProgramFilesLike(read->security)) {
        const std::vector<std::string> trusted = vantorix::win::TrustedBesidesTheAdministrators();
        if (!trusted.empty() && !OtherWriters(*read, trusted)) {
            std::printf("under Wine: the descriptor was not kept; the folder reads back from its Unix owner and mode, "
                        "and only the Wine user %s may change it\n", trusted[0].c_str());
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
