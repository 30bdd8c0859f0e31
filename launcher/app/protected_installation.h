#pragma once
// The installation an elevated step may act on (common/update_flow/install_step.h): only one the setup
// registered, and only while nobody but the system and the administrators can change it.
//
//   Registered: the setup writes "InstallLocation" under its uninstall entries in HKLM (32-bit view),
//   "Software\Microsoft\Windows\CurrentVersion\Uninstall\VantorixAssist", "...\VantorixAssist-2" up to
//   "-20" (install/setup/VantorixSetup.nsi: ENTRY_NAME, MAX_ENTRIES), which only administrators can write.
//   The step's own folder (of its image) and each registered folder are opened as folders and compared by
//   what the handles lead to (final path and file identity), never by their texts: a link, a junction,
//   a short name or another drive letter for the same folder is the same folder, a copy is not.
//   Protected: that folder and every folder above it, up to its drive's root, pass
//   folder_rights::JudgeFolder (common/folder_rights/folder_rights.h) over the security descriptor read
//   from the handle (win/folder_security.h).
//
// Under Wine, which shows no real ACLs, the descriptor is made up from the Unix owner and mode: the Unix
// account the wineserver runs as appears as the prefix's one user (S-1-5-21-0-0-0-1000, with full access),
// any other Unix owner as ANONYMOUS LOGON with what its owner bits allow, the "other" bits as Everyone, the
// group bits not at all (measured with Wine 8.0; SetSecurityInfo only changes the mode bits and stores no
// descriptor). There, and only there (ntdll exports wine_get_version), the step's own user SID counts as
// the administrators: it stands for the Unix account the elevated side runs as (root in the tests), which
// Wine cannot tell apart from an administrator. So under Wine a folder of another Unix account, or one
// that the "other" bits let anyone write, is refused as on Windows; what Wine does not show (a group that
// may write, the Unix ACLs) is not judged. The walk ends at the root of the Windows drive the final path
// names (C:\ is the prefix's drive_c): the Unix folders above a drive's root are not seen.
#include <optional>
#include <string>
#include <vector>

#include "common/folder_rights/folder_rights.h"

namespace vantorix::launcher {

struct StepInstallation {
    bool accepted = false;
    std::wstring folder;      // when accepted: the installation's folder as its handle resolves (no trailing "\")
    std::wstring log_folder;  // an installation whose install.log the step may write: `folder` when accepted,
                              // else the first registered installation that is protected ("" when none)
    std::vector<std::wstring> findings;  // why the folder was not accepted, a line each
};

// The step's installation for a program whose image lies in image_folder.
StepInstallation CheckStepInstallation(const std::wstring& image_folder);

// The pieces, for tests.
// The "InstallLocation" texts of the setup's uninstall entries that exist, in the setup's order.
std::vector<std::wstring> RegisteredInstallFolders();
// The folder opened as a folder: the path its handle resolves to (no "\\?\" prefix; a drive's root keeps
// its "\"); nullopt when it cannot be opened or is no folder.
std::optional<std::wstring> ResolvedFolder(const std::wstring& folder);
// Whether the two paths open the same folder (same resolved path and same file identity).
bool SameFolder(const std::wstring& a, const std::wstring& b);
// The folder's owner and DACL as its handle's security descriptor gives them; nullopt (with the system's
// error) when it cannot be read.
std::optional<folder_rights::FolderSecurity> ReadFolderSecurity(const std::wstring& folder, unsigned long& error);
// "" when the resolved folder and every folder above it pass; else the first folder at fault and why.
std::wstring WhyNotProtected(const std::wstring& resolved_folder);

}  // namespace vantorix::launcher
