// service_start.exe NAME [ARG...]            starts the service NAME with these start arguments, waits until
//                                            it has stopped and prints "start <error>" and
//                                            "stopped <win32 exit code> <service-specific exit code>"
// service_start.exe --twice NAME A... -- B...  starts it with A, then at once again with B while the first
//                                            request runs; prints "start <error>" for each, then waits
// What the user's launcher does through the service manager, for tests of the service within one prefix.
// Exit code 0 when it ran as asked (the errors are in its output), 2 for a wrong command line, 3 when the
// service did not stop within five minutes.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "win/unique_handle.h"

namespace {

using vantorix::win::unique_sc_handle;

unsigned long Start(SC_HANDLE service, const std::vector<std::wstring>& arguments) {
    std::vector<LPCWSTR> values;
    for (const auto& argument : arguments) values.push_back(argument.c_str());
    const BOOL started = StartServiceW(service, static_cast<DWORD>(values.size()), values.empty() ? nullptr : values.data());
    const unsigned long error = started ? 0 : GetLastError();
    std::printf("start %lu\n", error);
    return error;
}

int AwaitStop(SC_HANDLE service) {
    const ULONGLONG end = GetTickCount64() + 5 * 60 * 1000;
    SERVICE_STATUS status{};
    while (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED) {
        if (GetTickCount64() > end) return 3;
        Sleep(100);
    }
    std::printf("stopped %lu %lu\n", status.dwWin32ExitCode, status.dwServiceSpecificExitCode);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool twice = argc > 1 && std::wstring(argv[1]) == L"--twice";
    const int first = twice ? 2 : 1;
    if (argc <= first) {
        std::fputs("usage: service_start.exe [--twice] NAME ARG... [-- ARG...]\n", stderr);
        return 2;
    }
    std::vector<std::wstring> a, b;
    bool second = false;
    for (int i = first + 1; i < argc; ++i) {
        if (twice && std::wstring(argv[i]) == L"--") second = true;
        else (second ? b : a).emplace_back(argv[i]);
    }
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    unique_sc_handle service(manager ? OpenServiceW(manager.get(), argv[first], SERVICE_START | SERVICE_QUERY_STATUS) : nullptr);
    if (!service) {
        std::printf("open %lu\n", GetLastError());
        return 0;
    }
    if (Start(service.get(), a) != 0) return 0;
    if (twice) Start(service.get(), b);
    return AwaitStop(service.get());
}
