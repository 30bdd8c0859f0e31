#include "win/end_program.h"

#include <windows.h>
#include <tlhelp32.h>

#include "win/unique_handle.h"

namespace vantorix::win {

namespace {

std::wstring ImagePath(HANDLE process) {
    wchar_t image[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    return QueryFullProcessImageNameW(process, 0, image, &size) ? std::wstring(image, size) : std::wstring();
}

}  // namespace

int EndProgram(const std::wstring& path, unsigned long waitMs) {
    int ended = 0;
    unique_hfile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return 0;
    const DWORD self = GetCurrentProcessId();
    PROCESSENTRY32W entry{sizeof entry};
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == self) continue;
        unique_kernel_handle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (!process) continue;
        const std::wstring image = ImagePath(process.get());
        if (image.empty() || CompareStringOrdinal(image.c_str(), -1, path.c_str(), -1, TRUE) != CSTR_EQUAL) continue;
        if (!TerminateProcess(process.get(), 0)) continue;
        // Ending is asynchronous: the image stays locked until the process is really gone.
        WaitForSingleObject(process.get(), waitMs);
        ++ended;
    }
    return ended;
}

}  // namespace vantorix::win
