#include "win/end_program.h"

#include <tlhelp32.h>

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

std::vector<FoundProcess> FindProcessesOfImage(const std::wstring& path, DWORD access) {
    std::vector<FoundProcess> found;
    const std::wstring wanted = CanonicalPath(path);
    unique_hfile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return found;
    const DWORD self = GetCurrentProcessId();
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == self) continue;
        // The image is read through the very handle the caller acts on later.
        unique_kernel_handle process(
            OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (process && CompareStringOrdinal(ImageOf(process.get()).c_str(), -1, wanted.c_str(), -1, TRUE) == CSTR_EQUAL)
            found.push_back({entry.th32ProcessID, std::move(process)});
    }
    return found;
}

int EndProgram(const std::wstring& path, unsigned long waitMs) {
    int ended = 0;
    for (const FoundProcess& process : FindProcessesOfImage(path, PROCESS_TERMINATE | SYNCHRONIZE)) {
        if (!TerminateProcess(process.handle.get(), 0)) continue;
        // Ending is asynchronous: the image stays locked until the process is really gone.
        WaitForSingleObject(process.handle.get(), waitMs);
        ++ended;
    }
    return ended;
}

}  // namespace vantorix::win
