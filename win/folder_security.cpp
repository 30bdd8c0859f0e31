#include "win/folder_security.h"

#include <aclapi.h>
#include <sddl.h>

#include "win/code_page.h"
#include "win/unique_handle.h"

namespace vantorix::win {
namespace {

std::string SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!sid || !ConvertSidToStringSidW(sid, &text)) return "";
    unique_local_memory owned(text);
    return ToCodePage(text, CP_UTF8);
}

folder_rights::AceKind KindOf(BYTE type) {
    switch (type) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: return folder_rights::AceKind::Allow;
    case ACCESS_DENIED_ACE_TYPE:
    case ACCESS_DENIED_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE: return folder_rights::AceKind::Deny;
    default: return folder_rights::AceKind::Unknown;
    }
}

}  // namespace

std::optional<folder_rights::FolderSecurity> ReadFolderSecurity(HANDLE handle, DWORD& error, std::wstring* sddl) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    constexpr SECURITY_INFORMATION kWhat = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    error = GetSecurityInfo(handle, SE_FILE_OBJECT, kWhat, &owner, nullptr, &dacl, nullptr, &raw);
    if (error != ERROR_SUCCESS) return std::nullopt;
    unique_local_memory descriptor(raw);
    folder_rights::FolderSecurity security;
    security.owner = SidText(owner);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (GetSecurityDescriptorControl(raw, &control, &revision)) security.dacl_protected = (control & SE_DACL_PROTECTED) != 0;
    if (sddl) {
        LPWSTR text = nullptr;
        if (ConvertSecurityDescriptorToStringSecurityDescriptorW(raw, SDDL_REVISION_1, kWhat, &text, nullptr)) {
            unique_local_memory owned(text);
            *sddl = text;
        }
    }
    if (!dacl) return security;
    security.dacl.emplace();
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) {
            error = GetLastError();
            return std::nullopt;
        }
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        folder_rights::Ace ace;
        ace.kind = KindOf(header->AceType);
        ace.flags = header->AceFlags;
        if (ace.kind == folder_rights::AceKind::Allow) {
            // ACCESS_ALLOWED_ACE and ACCESS_ALLOWED_CALLBACK_ACE share this layout.
            const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
            ace.mask = allowed->Mask;
            ace.sid = SidText(const_cast<DWORD*>(&allowed->SidStart));
        }
        security.dacl->push_back(std::move(ace));
    }
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
    unique_kernel_handle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (!size || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return {};
    const std::string user = SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
    if (user.empty()) return {};
    return {user};
}

}  // namespace vantorix::win
