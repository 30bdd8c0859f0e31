// Starts a program with the user's limited token, as Windows starts programs for an administrator while
// UAC is on (the Wine prefix otherwise starts everything elevated), waits for it and returns its exit code.
//   run_limited.exe <program> [arguments...]
#include <windows.h>

#include <string>

#include "win/process.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    HANDLE own = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) return 3;
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    const BOOL got = GetTokenInformation(own, TokenLinkedToken, &linked, sizeof linked, &size);
    CloseHandle(own);
    if (!got) return 4;
    std::vector<std::wstring> arguments(argv + 2, argv + argc);
    std::wstring line = vantorix::win::BuildCommandLine(argv[1], arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessAsUserW(linked.LinkedToken, nullptr, line.data(), nullptr, nullptr, FALSE, 0,
                                              nullptr, nullptr, &startup, &info);
    CloseHandle(linked.LinkedToken);
    if (!started) return 5;
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return static_cast<int>(code);
}
