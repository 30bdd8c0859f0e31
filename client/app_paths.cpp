#include "client/app_paths.h"

#include <windows.h>

#include <vector>

#include "win/module_path.h"
#include "win/unique_handle.h"

namespace vantorix::client {

std::wstring ApplicationFolder() { return win::ModuleFolder(); }

std::wstring ArgumentText(const std::wstring& line) {
    std::size_t at = 0;
    if (!line.empty() && line[0] == L'"') {
        auto close = line.find(L'"', 1);
        at = close == std::wstring::npos ? line.size() : close + 1;
    } else {
        while (at < line.size() && line[at] != L' ' && line[at] != L'\t') ++at;
    }
    while (at < line.size() && (line[at] == L' ' || line[at] == L'\t')) ++at;
    return line.substr(at);
}

bool IsNormalFile(const std::wstring& path) {
    WIN32_FIND_DATAW data{};
    win::unique_find find(FindFirstFileW(path.c_str(), &data));
    if (!find) return false;
    return (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

}  // namespace vantorix::client
