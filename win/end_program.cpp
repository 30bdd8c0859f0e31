#include "win/end_program.h"

#include <tlhelp32.h>

#include "win/unique_handle.h"

namespace vantorix::win {

namespace {

// The long, absolute form of a path.
std::wstring CanonicalPath(const std::wstring& path) {
    wchar_t full[MAX_PATH * 2] = {};
    DWORD n = GetFullPathNameW(path.c_str(), ARRAYSIZE(full), full, nullptr);
    std::wstring result = n > 0 && n < ARRAYSIZE(full) ? std::wstring(full, n) : path;
    wchar_t longer[MAX_PATH * 2] = {};
    n = GetLongPathNameW(result.c_str(), longer, ARRAYSIZE(longer));
    return n > 0 && n < ARRAYSIZE(longer) ? std::wstring(longer, n) : result;
}

std::wstring ImageOf(HANDLE process) {
    wchar_t image[MAX_PATH * 2] = {};
    DWORD size = ARRAYSIZE(image);
    return QueryFullProcessImageNameW(process, 0, image, &size) ? CanonicalPath(std::wstring(image, size)) : L"";
}

}  // namespace

std::vector<DWORD> ProcessesOfImage(const std::wstring& path) {
    std::vector<DWORD> ids;
    const std::wstring wanted = CanonicalPath(path);
    unique_hfile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return ids;
    const DWORD self = GetCurrentProcessId();
    PROCESSENTRY32W entry{sizeof entry};
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == self) continue;
        unique_kernel_handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (process && CompareStringOrdinal(ImageOf(process.get()).c_str(), -1, wanted.c_str(), -1, TRUE) == CSTR_EQUAL)
            ids.push_back(entry.th32ProcessID);
    }
    return ids;
}

int EndProgram(const std::wstring& path, unsigned long waitMs) {
    int ended = 0;
    for (DWORD id : ProcessesOfImage(path)) {
        unique_kernel_handle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
        if (!process || !TerminateProcess(process.get(), 0)) continue;
        // Ending is asynchronous: the image stays locked until the process is really gone.
        WaitForSingleObject(process.get(), waitMs);
        ++ended;
    }
    return ended;
}

}  // namespace vantorix::win
