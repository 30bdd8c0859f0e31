// StartAsUser.exe PROGRAM: starts the program as the user whose desktop this is (the shell's token), not
// with the rights of the caller. The setup program runs elevated; its finish page starts the launcher
// through this helper, so the launcher (and the client it starts) run as the user, as they do from the
// Start menu. Nothing is started when that is not possible: never elevated instead.
// Exit code 0 when the program was started; 1 when it could not be started as the user; 2 without a program.
#include <cstdio>

#include "win/process.h"
#include "win/system_libraries.h"

int wmain(int argc, wchar_t** argv) {
    // It runs elevated from the setup's temporary folder.
    vantorix::win::LoadSystemLibrariesFromSystemFolderOnly();
    if (argc != 2) {
        std::fputs("usage: StartAsUser.exe PROGRAM-PATH\n", stderr);
        return 2;
    }
    if (vantorix::win::StartProgramAsShellUser(argv[1], {}, SW_SHOWNORMAL)) return 0;
    std::fprintf(stderr, "not started as the user (error %lu)\n", GetLastError());
    return 1;
}
