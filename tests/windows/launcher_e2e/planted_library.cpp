// A library planted beside a program under a system library's name (version.dll, winhttp.dll, ...): when
// any process loads it, it leaves "planted-<its file name>.txt" beside itself. A test then knows the
// program took a library from its own folder instead of the system's.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    const std::wstring file(path, n);
    const size_t cut = file.find_last_of(L'\\');
    const std::wstring trace = file.substr(0, cut + 1) + L"planted-" + file.substr(cut + 1) + L".txt";
    HANDLE out = CreateFileW(trace.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    return TRUE;
}
