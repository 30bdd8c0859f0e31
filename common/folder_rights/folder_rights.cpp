#include "common/folder_rights/folder_rights.h"

#include <algorithm>
#include <cstdio>

namespace vantorix::folder_rights {
namespace {

bool IsTrusted(const std::string& sid, const std::vector<std::string>& trusted) {
    return sid == kSystem || sid == kAdministrators || sid == kTrustedInstaller ||
           std::find(trusted.begin(), trusted.end(), sid) != trusted.end();
}

std::string Hex(uint32_t mask) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(mask));
    return text;
}

// Whether an entry's rights reach what the rule guards on a folder of that role.
bool Counts(const Ace& ace, FolderRole role) {
    if (!ace.inherit_only()) return true;
    if (role == FolderRole::Above) return false;
    return ace.sid != kCreatorOwner && ace.sid != kCreatorGroup;
}

}  // namespace

uint32_t GuardedRights(FolderRole role) {
    using namespace rights;
    const uint32_t path = kDeleteChild | kDelete | kWriteDac | kWriteOwner;
    return role == FolderRole::Above ? path : path | kAddFile | kAddSubfolder | kWriteEa | kWriteAttributes;
}

uint32_t MapGenericFileRights(uint32_t mask) {
    using namespace rights;
    uint32_t mapped = mask & ~(kGenericAll | kGenericExecute | kGenericWrite | kGenericRead | kMaximumAllowed);
    if (mask & (kGenericAll | kMaximumAllowed)) mapped |= kFileAllAccess;
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
        if (ace.kind == AceKind::Deny || !Counts(ace, role)) continue;
        if (ace.kind == AceKind::Unknown) return {false, "an access entry of a kind not read here"};
        const uint32_t held = MapGenericFileRights(ace.mask) & guarded;
        if (held && !IsTrusted(ace.sid, trusted)) return {false, ace.sid + " holds " + Hex(held)};
    }
    return {true, ""};
}

bool IsProgramFilesLike(const FolderSecurity& folder) {
    if (!folder.dacl_protected || !folder.dacl || folder.owner != kAdministrators || folder.dacl->size() != 3) return false;
    const uint8_t inherited = kObjectInherit | kContainerInherit;
    auto has = [&](const char* sid, uint32_t mask) {
        for (const Ace& ace : *folder.dacl)
            if (ace.sid == sid && ace.kind == AceKind::Allow && ace.mask == mask && (ace.flags & inherited) == inherited &&
                !ace.inherit_only())
                return true;
        return false;
    };
    return has(kSystem, rights::kFileAllAccess) && has(kAdministrators, rights::kFileAllAccess) &&
           has(kUsers, rights::kFileReadAndExecute);
}

}  // namespace vantorix::folder_rights
