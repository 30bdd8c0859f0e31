#pragma once
// Whether a path names a file: the one test the programs make before they read, start or replace one.
#include <string>

namespace vantorix::win {

// True when `path` exists and is not a folder (a link counts as what it is, not as what it points at).
bool FileExists(const std::wstring& path);

}  // namespace vantorix::win
