#pragma once
// Whether a path names a file: the one test the programs make before they read, start or replace one; and
// the reading of a short answer file (a test seam's answer, a service's result).
#include <string>

namespace vantorix::win {

// True when `path` exists and is not a folder (a link counts as what it is, not as what it points at).
bool FileExists(const std::wstring& path);

// True when anything is at `path`: a file, a folder or a link.
bool PathExists(const std::wstring& path);

// True when `path` is a folder itself, not a link to one.
bool IsRealFolder(const std::wstring& path);

// The first 63 bytes of the file (not followed through a link); "" when it cannot be read.
std::string ReadSmallFile(const std::wstring& path);

}  // namespace vantorix::win
