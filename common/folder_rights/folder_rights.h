#pragma once
// Whether a folder is protected as "Program Files" is: only SYSTEM, the Administrators and
// TrustedInstaller may write into it, delete it, change its access list or take it over. The setup
// installs only into such a folder (or one it makes so), because what lies there is run elevated later
// (the control library is registered from it, the launcher's elevated steps run from it).
// The security descriptor arrives here as text-form SIDs and access masks, so the judgement is portable.
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

// Access-mask bits that let the holder change the folder or what is in it: add files or folders, write
// attributes, delete it or its children, change its access list or owner (and the generic rights that
// include them).
inline constexpr uint32_t kChangingRights = 0x00000002u   // FILE_ADD_FILE / FILE_WRITE_DATA
                                            | 0x00000004u  // FILE_ADD_SUBDIRECTORY / FILE_APPEND_DATA
                                            | 0x00000010u  // FILE_WRITE_EA
                                            | 0x00000040u  // FILE_DELETE_CHILD
                                            | 0x00000100u  // FILE_WRITE_ATTRIBUTES
                                            | 0x00010000u  // DELETE
                                            | 0x00040000u  // WRITE_DAC
                                            | 0x00080000u  // WRITE_OWNER
                                            | 0x02000000u  // MAXIMUM_ALLOWED
                                            | 0x10000000u  // GENERIC_ALL
                                            | 0x40000000u; // GENERIC_WRITE
inline constexpr uint8_t kInheritOnly = 0x08;  // INHERIT_ONLY_ACE

struct Ace {
    std::string sid;     // text form, "S-1-5-32-545"
    bool allows = true;  // an access-allowed entry (a denying one grants nothing)
    uint8_t flags = 0;   // the entry's inheritance flags
    uint32_t mask = 0;
};

struct Descriptor {
    std::string owner;     // text-form SID; "" when the descriptor names none
    bool has_dacl = true;  // false: a NULL access list, which lets everyone do everything
    std::vector<Ace> aces;
};

// Why someone other than SYSTEM, the Administrators and TrustedInstaller may change the folder (the first
// such owner or entry), or nullopt when nobody else may. An owner other than those may always rewrite the
// access list, so it counts as a writer too. CREATOR OWNER and CREATOR GROUP entries that apply only to
// what is created inside count as nothing: they go to whoever creates it, who may write already.
// also_trusted names one more SID to count as the administrators' own (Wine reports every file as owned
// by, and fully open to, the Wine user running the check: there that user is the administrator); "" none.
std::optional<std::string> OtherWriters(const Descriptor& folder, const std::string& also_trusted = "");

// True when the folder has exactly the rights the setup gives the folders it makes: its owner the
// Administrators, inheritance cut (protected), SYSTEM and the Administrators full control, the Users read
// and execute, each for the folder, its subfolders and files, and nothing else.
bool IsProgramFilesLike(const Descriptor& folder, bool dacl_protected);

// The access list the setup gives a folder it makes, in the system's descriptor language: owner
// Administrators, protected, SYSTEM and Administrators full control, Users read and execute, all
// inherited by subfolders and files.
inline constexpr wchar_t kProgramFilesSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

}  // namespace vantorix::folder_rights
