#pragma once
// A folder's owner and access list read through the system, for the one judgement in
// common/folder_rights/folder_rights.h; and who counts as the administrators besides the well-known ones.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "common/folder_rights/folder_rights.h"

namespace vantorix::win {

// The owner and DACL of the object behind `handle` (opened with READ_CONTROL); nullopt, with the system's
// error in `error`, when they cannot be read. `sddl`, when given, receives them in the descriptor language.
std::optional<folder_rights::FolderSecurity> ReadFolderSecurity(HANDLE handle, DWORD& error, std::wstring* sddl = nullptr);

// Under Wine, which shows no real ACLs, every descriptor is made up from the Unix owner and mode: the Unix
// account the wineserver runs as appears as the process's own user with full access. There, and only there
// (ntdll exports wine_get_version), that user counts as the administrators: it is the account the elevated
// side runs as, which Wine cannot tell apart from an administrator. Elsewhere none.
std::vector<std::string> TrustedBesidesTheAdministrators();
bool RunsUnderWine();

}  // namespace vantorix::win
