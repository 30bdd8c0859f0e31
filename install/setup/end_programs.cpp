// EndPrograms.exe PROGRAM...: ends the running instances of each named program file, picked by the full
// path of their image. The setup program runs it before it replaces or removes an installation's files,
// naming that installation's own launcher and client, so a program of the same name elsewhere goes on.
// Exit code 0; 2 when no program is named.
#include <cstdio>
#include <string>

#include "win/end_program.h"
#include "win/system_libraries.h"

int wmain(int argc, wchar_t** argv) {
    // It runs elevated from the setup's temporary folder.
    vantorix::win::LoadSystemLibrariesFromSystemFolderOnly();
    if (argc < 2) {
        std::fputs("usage: EndPrograms.exe PROGRAM-PATH...\n", stderr);
        return 2;
    }
    int ended = 0;
    for (int i = 1; i < argc; ++i) ended += vantorix::win::EndProgram(argv[i]);
    std::printf("ended %d process(es)\n", ended);
    return 0;
}
