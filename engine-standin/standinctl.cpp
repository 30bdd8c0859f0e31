// standinctl.exe: sends one command to the stand-in engine of a running program (see standin_control.h).
//   standinctl.exe [--pid N] command [field...]
// Prints the command's result and exits with 0, or with 2 when no engine could be reached.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "engine-standin/standin_control.h"
#include "engine-standin/standin_locate.h"

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int first = 1;
    DWORD pid = 0;
    if (argc > 2 && std::wcscmp(argv[1], L"--pid") == 0) {
        pid = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
        first = 3;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: standinctl [--pid N] command [field...]\n");
        return 1;
    }
    std::wstring command;
    for (int i = first; i < argc; ++i) {
        if (i > first) command += L'\t';
        command += argv[i];
    }
    HWND target = pid ? standin::FindControlWindow(pid) : FindWindowExW(HWND_MESSAGE, nullptr, STANDIN_CONTROL_CLASS, nullptr);
    if (!target) {
        std::fprintf(stderr, "standinctl: no stand-in engine is running\n");
        return 2;
    }
    std::string bytes = Utf8(command);
    COPYDATASTRUCT data{STANDIN_COPYDATA_MAGIC, static_cast<DWORD>(bytes.size()), bytes.data()};
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 20000, &result)) {
        std::fprintf(stderr, "standinctl: the engine did not answer\n");
        return 2;
    }
    std::printf("%d\n", static_cast<int>(result));
    return 0;
}
