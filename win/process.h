#pragma once
// Starting another program without waiting for it. The command line is built from the program path and
// its arguments with the quoting rules that CommandLineToArgvW and the C runtime undo, so a path with
// spaces ("C:\Program Files\x.exe") is never cut at its first space.
#include <windows.h>

#include "win/unique_handle.h"

#include <string>
#include <vector>

namespace vantorix::win {

// One argument quoted for a command line: left bare when it has no space, tab or quote, otherwise put in
// quotes with backslashes before a quote (and before the closing quote) doubled.
std::wstring QuoteArgument(const std::wstring& argument);

// Program and arguments joined into one command line, each part quoted as needed.
std::wstring BuildCommandLine(const std::wstring& program, const std::vector<std::wstring>& arguments);

// Starts `program` with `arguments`, its first window shown with `show` (SW_HIDE, SW_SHOWNORMAL,
// SW_SHOWMINIMIZED, ...), and returns at once. A batch file (.bat, .cmd) runs through the command
// interpreter, as the shell would run it. `folder` is the working folder, empty for the caller's.
// Returns false when the program could not be started (GetLastError tells why).
bool StartProgram(const std::wstring& program, const std::vector<std::wstring>& arguments, int show,
                  const std::wstring& folder = {});

// The same, handing back the started process so the caller can tell when it has ended; an empty handle
// when it could not be started.
unique_kernel_handle StartProgramTracked(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                         int show, const std::wstring& folder = {});

// Starts `program` as the user whose desktop this is, with the token of the shell's process (the desktop
// window's owner), as if the user had started it from the shell: from an elevated program (a setup) the
// program then runs with the user's own rights, never elevated. An empty handle when there is no shell or
// its token cannot be taken (nothing is started then; GetLastError tells why).
unique_kernel_handle StartProgramAsShellUser(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                             int show);

}  // namespace vantorix::win
