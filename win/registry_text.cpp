#include "win/registry_text.h"

#include <cwchar>

namespace vantorix::win {

namespace {
constexpr DWORD kLongestText = 32767;
}

unique_hkey OpenMachineKey(const std::wstring& path, REGSAM view) {
    unique_hkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) key.reset();
    return key;
}

std::optional<std::wstring> ReadTextValue(HKEY key, const wchar_t* value) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ ||
        size > kLongestText * sizeof(wchar_t))
        return std::nullopt;
    // One character more than asked for, so that a value written without its terminator still ends.
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = size;
    if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &got) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    text.resize(wcsnlen(text.c_str(), got / sizeof(wchar_t)));
    return text;
}

}  // namespace vantorix::win
