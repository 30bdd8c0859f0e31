#include "win/module_path.h"

#include <vector>

namespace vantorix::win {

std::wstring ModulePath(HMODULE module) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return L"";
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        buffer.resize(buffer.size() * 2);  // cut short: the path is longer than the buffer
    }
}

std::wstring ModuleFolder(HMODULE module) {
    const std::wstring path = ModulePath(module);
    const auto slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return L"";
    std::wstring folder = path.substr(0, slash);
    if (folder.size() == 2 && folder[1] == L':') folder += L'\\';  // a drive root keeps its backslash
    return folder;
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& relative) {
    if (!folder.empty() && folder.back() == L'\\' && !relative.empty() && relative.front() == L'\\')
        return folder + relative.substr(1);
    return folder + relative;
}

}  // namespace vantorix::win
