// A stand-in for a program the client starts (the launcher, the browser): appends its own path and its
// whole command line as one line to records.txt beside it, then ends.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self);
    folder.resize(folder.find_last_of(L'\\'));
    // Records go to the folder named by CLIENT_E2E_RECORDS, else beside the program.
    wchar_t target[MAX_PATH] = {};
    std::wstring file = GetEnvironmentVariableW(L"CLIENT_E2E_RECORDS", target, MAX_PATH) ? std::wstring(target)
                                                                                         : folder + L"\\records.txt";
    std::wstring line = std::wstring(self) + L"|" + GetCommandLineW() + L"\r\n";
    int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(n > 0 ? n - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8.data(), n, nullptr, nullptr);
    HANDLE out = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    CloseHandle(out);
    return 0;
}
