#pragma once
// Who may change a folder, judged from its security descriptor: the rule by which the launcher's elevated
// steps accept their installation (launcher/app/protected_installation.h reads the descriptors of the
// installation folder and of every folder above it and asks this). Portable: a SID is its string form
// ("S-1-5-18"), an access mask the Windows bits.
//
// A folder passes when its owner is SYSTEM, the administrators or TrustedInstaller (any other owner may
// change the DACL, whatever it says) and no access entry that applies to the folder itself gives any other
// SID one of the rights that let its holder change what the folder leads to:
//   - the installation folder: add a file or a subfolder, write its attributes or extended attributes,
//     delete a child, delete or rename the folder, change its DACL or its owner;
//   - a folder above it: delete a child, delete or rename the folder, change its DACL or its owner. Adding
//     a new entry there displaces nothing that exists (C:\ lets every signed-in user create folders).
// A folder without a DACL lets everyone do everything. Denying entries are not counted (they can only take
// rights away); an allowing entry of a kind whose layout is not read here fails the folder.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantorix::protection {

inline constexpr char kSystemSid[] = "S-1-5-18";
inline constexpr char kAdministratorsSid[] = "S-1-5-32-544";
inline constexpr char kTrustedInstallerSid[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// The access bits the rule reads (winnt.h's values).
namespace rights {
inline constexpr uint32_t kAddFile = 0x0002;          // FILE_ADD_FILE (FILE_WRITE_DATA)
inline constexpr uint32_t kAddSubfolder = 0x0004;     // FILE_ADD_SUBDIRECTORY (FILE_APPEND_DATA)
inline constexpr uint32_t kWriteEa = 0x0010;          // FILE_WRITE_EA
inline constexpr uint32_t kDeleteChild = 0x0040;      // FILE_DELETE_CHILD
inline constexpr uint32_t kWriteAttributes = 0x0100;  // FILE_WRITE_ATTRIBUTES
inline constexpr uint32_t kDelete = 0x00010000;       // DELETE
inline constexpr uint32_t kWriteDac = 0x00040000;     // WRITE_DAC
inline constexpr uint32_t kWriteOwner = 0x00080000;   // WRITE_OWNER
inline constexpr uint32_t kGenericAll = 0x10000000;
inline constexpr uint32_t kGenericExecute = 0x20000000;
inline constexpr uint32_t kGenericWrite = 0x40000000;
inline constexpr uint32_t kGenericRead = 0x80000000;
inline constexpr uint32_t kFileAllAccess = 0x001F01FF;
inline constexpr uint32_t kFileGenericRead = 0x00120089;
inline constexpr uint32_t kFileGenericWrite = 0x00120116;
inline constexpr uint32_t kFileGenericExecute = 0x001200A0;
}  // namespace rights

enum class AceKind {
    Allow,    // ACCESS_ALLOWED_ACE and its conditional (callback) form
    Deny,     // any denying kind
    Unknown,  // any other kind (an object ACE, a kind this rule does not read)
};

struct Ace {
    AceKind kind = AceKind::Allow;
    bool inherit_only = false;  // INHERIT_ONLY_ACE: for what is created below, not for the folder itself
    uint32_t mask = 0;
    std::string sid;
};

struct FolderSecurity {
    std::string owner;                     // "" when the descriptor names none
    std::optional<std::vector<Ace>> dacl;  // nullopt: no DACL at all
};

enum class FolderRole { Installation, Above };

// The rights no one but the trusted may hold on a folder of that role.
uint32_t GuardedRights(FolderRole role);
// GENERIC_* bits replaced by the file rights they stand for.
uint32_t MapGenericFileRights(uint32_t mask);

struct Verdict {
    bool passes = false;
    std::string why;  // when it does not: the owner or the entry at fault, with the rights ("0x00000040")
};

// trusted: SIDs that count as the administrators besides SYSTEM, the administrators and TrustedInstaller
// (under Wine: the one account it shows, see protected_installation.h).
Verdict JudgeFolder(const FolderSecurity& security, FolderRole role, const std::vector<std::string>& trusted = {});

}  // namespace vantorix::protection
