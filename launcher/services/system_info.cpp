// Sysing and Getfileversion: the 32-on-64 test and a file's version text.
#include <windows.h>

#include <cwchar>
#include <vector>

#include "launcher/services/services.h"
#include "win/file_exists.h"

namespace vantorix::services {

bool IsWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

std::wstring GetFileVersionText(const std::wstring& path) {
    if (path.empty() || !win::FileExists(path)) return L"";
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
