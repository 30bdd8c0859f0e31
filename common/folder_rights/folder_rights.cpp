#include "common/folder_rights/folder_rights.h"

#include <cstdio>

namespace vantorix::folder_rights {

namespace {

bool Trusted(const std::string& sid) { return sid == kSystem || sid == kAdministrators || sid == kTrustedInstaller; }

std::string Hex(uint32_t mask) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(mask));
    return text;
}

constexpr uint8_t kObjectInherit = 0x01, kContainerInherit = 0x02;
constexpr uint32_t kFullControl = 0x001F01FF, kReadAndExecute = 0x001200A9;

}  // namespace

std::optional<std::string> OtherWriters(const Descriptor& folder, const std::string& also_trusted) {
    auto trusted = [&](const std::string& sid) { return Trusted(sid) || (!also_trusted.empty() && sid == also_trusted); };
    if (!folder.has_dacl) return "no access list: everyone may change it";
    if (folder.owner.empty()) return "no owner";
    if (!trusted(folder.owner)) return "owned by " + folder.owner;
    for (const Ace& ace : folder.aces) {
        if (!ace.allows || !(ace.mask & kChangingRights) || trusted(ace.sid)) continue;
        if ((ace.flags & kInheritOnly) && (ace.sid == kCreatorOwner || ace.sid == kCreatorGroup)) continue;
        return ace.sid + " may change it (rights " + Hex(ace.mask) + ")";
    }
    return std::nullopt;
}

bool IsProgramFilesLike(const Descriptor& folder, bool dacl_protected) {
    if (!dacl_protected || !folder.has_dacl || folder.owner != kAdministrators || folder.aces.size() != 3) return false;
    const uint8_t inherited = kObjectInherit | kContainerInherit;
    auto has = [&](const char* sid, uint32_t mask) {
        for (const Ace& ace : folder.aces)
            if (ace.sid == sid && ace.allows && ace.mask == mask && (ace.flags & inherited) == inherited &&
                !(ace.flags & kInheritOnly))
                return true;
        return false;
    };
    return has(kSystem, kFullControl) && has(kAdministrators, kFullControl) && has(kUsers, kReadAndExecute);
}

}  // namespace vantorix::folder_rights
