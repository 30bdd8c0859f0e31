#pragma once
// The client's place on disk and its command line.
#include <string>

namespace vantorix::client {

// The folder of client.exe without a trailing backslash, except a drive root which keeps it ("C:\").
std::wstring ApplicationFolder();

// The argument text of a command line: what follows the program name and the blanks after it, unchanged
// (a trailing blank stays, quotes stay).
std::wstring ArgumentText(const std::wstring& command_line);

// True when `path` names an existing file that is not a folder.
bool IsNormalFile(const std::wstring& path);

}  // namespace vantorix::client
