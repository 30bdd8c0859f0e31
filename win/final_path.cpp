#include "win/final_path.h"

#include <vector>

namespace vantorix::win {

std::wstring FinalPathOf(HANDLE file) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD n = GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return L"";
        if (n < buffer.size()) {
            std::wstring path(buffer.data(), n);
            if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
            if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
            return path;
        }
        buffer.resize(n + 1);
    }
}

}  // namespace vantorix::win
