#include "common/protection/folder_rights.h"

#include <algorithm>
#include <cstdio>

namespace vantorix::protection {
namespace {

bool IsTrusted(const std::string& sid, const std::vector<std::string>& trusted) {
    return sid == kSystemSid || sid == kAdministratorsSid || sid == kTrustedInstallerSid ||
           std::find(trusted.begin(), trusted.end(), sid) != trusted.end();
}

std::string Hex(uint32_t mask) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(mask));
    return text;
}

}  // namespace

uint32_t GuardedRights(FolderRole role) {
    using namespace rights;
    const uint32_t path = kDeleteChild | kDelete | kWriteDac | kWriteOwner;
    return role == FolderRole::Above ? path : path | kAddFile | kAddSubfolder | kWriteEa | kWriteAttributes;
}

uint32_t MapGenericFileRights(uint32_t mask) {
    using namespace rights;
    uint32_t mapped = mask & ~(kGenericAll | kGenericExecute | kGenericWrite | kGenericRead);
    if (mask & kGenericAll) mapped |= kFileAllAccess;
    if (mask & kGenericExecute) mapped |= kFileGenericExecute;
    if (mask & kGenericWrite) mapped |= kFileGenericWrite;
    if (mask & kGenericRead) mapped |= kFileGenericRead;
    return mapped;
}

Verdict JudgeFolder(const FolderSecurity& security, FolderRole role, const std::vector<std::string>& trusted) {
    if (security.owner.empty()) return {false, "no owner is named"};
    if (!IsTrusted(security.owner, trusted))
        return {false, "owner " + security.owner + " is not SYSTEM, the administrators or TrustedInstaller"};
    if (!security.dacl) return {false, "no DACL: everyone may change it"};
    const uint32_t guarded = GuardedRights(role);
    for (const Ace& ace : *security.dacl) {
        if (ace.inherit_only || ace.kind == AceKind::Deny) continue;
        if (ace.kind == AceKind::Unknown) return {false, "an access entry of a kind not read here"};
        const uint32_t held = MapGenericFileRights(ace.mask) & guarded;
        if (held && !IsTrusted(ace.sid, trusted)) return {false, ace.sid + " holds " + Hex(held)};
    }
    return {true, ""};
}

}  // namespace vantorix::protection
