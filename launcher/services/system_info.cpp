// m_PathEnviro, Sysing and Getfileversion: folders by code, the 32-on-64 test, a file's version text.
#include <windows.h>
#include <shlobj.h>

#include <array>
#include <cwchar>
#include <vector>

#include "launcher/services/services.h"
#include "win/unique_handle.h"

namespace vantorix::services {
namespace {

// Codes 255 and up select one of these, in this order; the launcher itself reads 279 (SystemRoot).
constexpr std::array<const wchar_t*, 34> kEnvironmentNames = {
    L"CD",          L"ClientName",         L"CmdCmdLine",           L"CmdExtversion",         L"ComSpec",
    L"Date",        L"Time",               L"ErrorLevel",           L"HomeDrive",             L"HomePath",
    L"HomeShare",   L"LogonSever",         L"Number_Of_Processors", L"OS",                    L"Path",
    L"PathExt",     L"Processor_Architecture", L"Processor_Identifier", L"Processor_Level",   L"Processor_Revision",
    L"Prompt",      L"Random",             L"SessionName",          L"SystemDrive",           L"SystemRoot",
    L"TEMP",        L"TMP",                L"ComputerName",         L"UserDomain",            L"UserName",
    L"Public",      L"ProgramW6432",       L"ProgramFiles(x86)",    L"FP_NO_HOST_CHECK",
};

// Codes 128 and up: the scripting shell's special-folder collection, in its order, as shell folders.
constexpr std::array<int, 16> kScriptingShellFolders = {
    CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_STARTMENU, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTUP,
    CSIDL_DESKTOPDIRECTORY,        CSIDL_FAVORITES,        CSIDL_FONTS,           CSIDL_PERSONAL,
    CSIDL_NETHOOD,                 CSIDL_PRINTHOOD,        CSIDL_PROGRAMS,        CSIDL_RECENT,
    CSIDL_SENDTO,                  CSIDL_STARTMENU,        CSIDL_STARTUP,         CSIDL_TEMPLATES,
};

constexpr int kEnvironmentBase = 255;
constexpr int kTempCode = 280;

std::wstring ShellFolder(int csidl) {
    LPITEMIDLIST list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &list)) || !list) return L"";
    wchar_t path[MAX_PATH] = {};
    BOOL ok = SHGetPathFromIDListW(list, path);
    CoTaskMemFree(list);
    return ok ? path : L"";
}

std::wstring EnvironmentValue(const wchar_t* name) {
    // Like the scripting shell: a variable that is not set comes back as written, percent signs included.
    const std::wstring reference = std::wstring(L"%") + name + L"%";
    DWORD n = ExpandEnvironmentStringsW(reference.c_str(), nullptr, 0);
    if (n == 0) return reference;
    std::wstring value(n, L'\0');
    n = ExpandEnvironmentStringsW(reference.c_str(), value.data(), n);
    value.resize(n ? n - 1 : 0);
    return value;
}

}  // namespace

std::wstring SpecialPath(int32_t code) {
    wchar_t buffer[MAX_PATH + 1] = {};
    switch (code) {
        case 0:
            GetModuleFileNameW(nullptr, buffer, MAX_PATH);
            return buffer;
        case 1:
            GetCurrentDirectoryW(MAX_PATH, buffer);
            return buffer;
        case 2: {
            // The system makes the file to reserve the name; the caller gets the name only.
            const std::wstring folder = SpecialPath(kTempCode);
            if (!GetTempFileNameW(folder.c_str(), L"LZT", 0, buffer)) return L"";
            DeleteFileW(buffer);
            return buffer;
        }
        default: break;
    }
    if (code >= 3 && code <= 127) return ShellFolder(code);
    if (code >= 128 && code < kEnvironmentBase) {
        size_t index = static_cast<size_t>(code - 128);
        return index < kScriptingShellFolders.size() ? ShellFolder(kScriptingShellFolders[index]) : L"";
    }
    if (code >= kEnvironmentBase && static_cast<size_t>(code - kEnvironmentBase) < kEnvironmentNames.size())
        return EnvironmentValue(kEnvironmentNames[static_cast<size_t>(code - kEnvironmentBase)]);
    return L"";
}

bool IsWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

std::wstring GetFileVersionText(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (path.empty() || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return L"";
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return L"0";
    std::vector<BYTE> data(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixed_size = 0;
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size) || !fixed ||
        fixed_size < sizeof *fixed || fixed->dwSignature != VS_FFI_SIGNATURE)
        return L"0";
    wchar_t text[64];
    swprintf(text, 64, L"%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
             HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    return text;
}

}  // namespace vantorix::services
