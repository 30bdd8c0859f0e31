#pragma once
// System libraries from the system folder only. The loader looks for a library named without a path in
// the program's own folder first; where that folder can be written by someone else (a download folder, a
// per-user installation, the setup's temporary folder), a file planted there under a system library's
// name would run inside the program, elevated when the program is. So the programs import by name only
// libraries the system always takes from itself (the known DLLs: kernel32, user32, advapi32, shell32,
// ...); every other system library (version, winhttp, bcrypt, comctl32) is delay-loaded (see
// vantorix_system_libraries_only in cmake/windows.cmake) and comes from the system folder by its full
// path when it is first called.
#include <windows.h>

namespace vantorix::win {

// Call first thing in a program's entry point: later loads by bare name search the system folder only
// (where the system offers that), the current directory never, and the delay-loaded libraries come from
// the system folder.
void LoadSystemLibrariesFromSystemFolderOnly();

// A system library asked for at run time (one a program may do without): the system folder's file by its
// full path, its own dependencies searched from there. nullptr when it is not there.
HMODULE LoadSystemLibrary(const wchar_t* name);

}  // namespace vantorix::win
