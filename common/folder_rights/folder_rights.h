#pragma once
// Who may change a folder, judged from its security descriptor: the one rule by which the setup accepts
// (or makes) the folder it installs into and the launcher's elevated steps accept their installation and
// every folder above it. Whatever lies in such a folder is later run elevated, so only SYSTEM, the
// administrators and TrustedInstaller may change it, as in "Program Files". Portable: a SID is its string
// form ("S-1-5-18"), an access mask the Windows bits.
//
// A folder passes when its owner is SYSTEM, the administrators or TrustedInstaller (any other owner may
// change the DACL, whatever it says) and no access entry gives any other SID one of the rights that let
// its holder change what the folder leads to:
//   - the installation folder: add a file or a subfolder, write its attributes or extended attributes,
//     delete a child, delete or rename the folder, change its DACL or its owner. Entries that apply only to
//     what is created inside count too (the installed files would inherit them), except CREATOR OWNER and
//     CREATOR GROUP ones, which go to whoever creates the file and so grant nothing new;
//   - a folder above it: delete a child, delete or rename the folder, change its DACL or its owner, by an
//     entry for the folder itself. Adding a new entry there displaces nothing that exists (C:\ lets every
//     signed-in user create folders, and gives them rights over what they create).
// A folder without a DACL lets everyone do everything. Denying entries are not counted (they can only take
// rights away); an allowing entry of a kind whose layout is not read here fails the folder.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantorix::folder_rights {

inline constexpr char kSystem[] = "S-1-5-18";
inline constexpr char kAdministrators[] = "S-1-5-32-544";
inline constexpr char kTrustedInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
inline constexpr char kUsers[] = "S-1-5-32-545";
inline constexpr char kCreatorOwner[] = "S-1-3-0";
inline constexpr char kCreatorGroup[] = "S-1-3-1";

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
inline constexpr uint32_t kMaximumAllowed = 0x02000000;
inline constexpr uint32_t kGenericAll = 0x10000000;
inline constexpr uint32_t kGenericExecute = 0x20000000;
inline constexpr uint32_t kGenericWrite = 0x40000000;
inline constexpr uint32_t kGenericRead = 0x80000000;
inline constexpr uint32_t kFileAllAccess = 0x001F01FF;
inline constexpr uint32_t kFileGenericRead = 0x00120089;
inline constexpr uint32_t kFileGenericWrite = 0x00120116;
inline constexpr uint32_t kFileGenericExecute = 0x001200A0;
inline constexpr uint32_t kFileReadAndExecute = 0x001200A9;
}  // namespace rights

// The entry's inheritance flags (winnt.h's values).
inline constexpr uint8_t kObjectInherit = 0x01, kContainerInherit = 0x02, kInheritOnly = 0x08;

enum class AceKind {
    Allow,    // ACCESS_ALLOWED_ACE and its conditional (callback) form
    Deny,     // any denying kind
    Unknown,  // any other kind (an object ACE, a kind this rule does not read)
};

struct Ace {
    AceKind kind = AceKind::Allow;
    uint8_t flags = 0;  // inheritance flags
    uint32_t mask = 0;
    std::string sid;
    bool inherit_only() const { return (flags & kInheritOnly) != 0; }
};

struct FolderSecurity {
    std::string owner;                     // "" when the descriptor names none
    std::optional<std::vector<Ace>> dacl;  // nullopt: no DACL at all
    bool dacl_protected = false;           // inheritance from the parent is cut
};

enum class FolderRole { Installation, Above };

// The rights no one but the trusted may hold on a folder of that role.
uint32_t GuardedRights(FolderRole role);
// GENERIC_* bits (and MAXIMUM_ALLOWED, which asks for everything) replaced by the file rights they stand for.
uint32_t MapGenericFileRights(uint32_t mask);

struct Verdict {
    bool passes = false;
    std::string why;  // when it does not: the owner or the entry at fault, with the rights ("0x00000040")
};

// trusted: SIDs that count as the administrators besides SYSTEM, the administrators and TrustedInstaller
// (under Wine: the one account it shows for its own user, which the elevated side runs as).
Verdict JudgeFolder(const FolderSecurity& security, FolderRole role, const std::vector<std::string>& trusted = {});

// True when the folder has exactly the rights the setup gives the folders it makes (kProgramFilesSddl):
// owner the administrators, inheritance cut, SYSTEM and the administrators full control, the Users read and
// execute, each for the folder, its subfolders and files, and nothing else.
bool IsProgramFilesLike(const FolderSecurity& folder);

// The access list the setup gives a folder it makes, in the system's descriptor language.
inline constexpr wchar_t kProgramFilesSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

}  // namespace vantorix::folder_rights
