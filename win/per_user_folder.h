#pragma once
// The product's folder in the user's profile, "%LOCALAPPDATA%\VantorixAssist", from the system's known
// folder (never from the environment), and making the folders of a path there without following links.
#include <windows.h>

#include <string>

namespace vantorix::win {

// The path of a known folder (FOLDERID_...); "" when the system names none.
std::wstring KnownFolderPath(const GUID& id);

// "%LOCALAPPDATA%\VantorixAssist" without a trailing backslash; "" when the system names no such folder.
std::wstring PerUserProductFolder();

// Creates every missing folder above `file`. False when one cannot be made, or when an existing level is a
// file or a link (a reparse point someone put in the way is never followed).
bool MakeFoldersAbove(const std::wstring& file);

}  // namespace vantorix::win
