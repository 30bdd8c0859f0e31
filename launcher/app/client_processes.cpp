#include "launcher/app/client_processes.h"

#include <tlhelp32.h>

#include <algorithm>

#include "win/unique_handle.h"

namespace vantorix::launcher {

namespace {

// The long, absolute form of a path, so that "C:\PROGRA~1\x.exe" and "c:\program files\x.exe" meet.
std::wstring CanonicalPath(const std::wstring& path) {
    wchar_t full[MAX_PATH * 2] = {};
    DWORD n = GetFullPathNameW(path.c_str(), ARRAYSIZE(full), full, nullptr);
    std::wstring result = n > 0 && n < ARRAYSIZE(full) ? std::wstring(full, n) : path;
    wchar_t longer[MAX_PATH * 2] = {};
    n = GetLongPathNameW(result.c_str(), longer, ARRAYSIZE(longer));
    return n > 0 && n < ARRAYSIZE(longer) ? std::wstring(longer, n) : result;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::wstring ImageOf(HANDLE process) {
    wchar_t image[MAX_PATH * 2] = {};
    DWORD size = ARRAYSIZE(image);
    return QueryFullProcessImageNameW(process, 0, image, &size) ? CanonicalPath(std::wstring(image, size)) : L"";
}

struct CloseRequest {
    const std::vector<DWORD>* ids;
};

BOOL CALLBACK AskToClose(HWND window, LPARAM context) {
    const auto* request = reinterpret_cast<const CloseRequest*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (std::find(request->ids->begin(), request->ids->end(), owner) != request->ids->end())
        PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

// Waits until every process has ended or the time is up; true when all have ended.
bool WaitAllGone(const std::vector<win::unique_kernel_handle>& processes, DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    for (const auto& process : processes) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now < end ? static_cast<DWORD>(end - now) : 0;
        if (WaitForSingleObject(process.get(), left) != WAIT_OBJECT_0) return false;
    }
    return true;
}

}  // namespace

std::vector<DWORD> ProcessesOfImage(const std::wstring& image) {
    std::vector<DWORD> ids;
    const std::wstring wanted = CanonicalPath(image);
    win::unique_hfile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return ids;
    PROCESSENTRY32W entry{sizeof entry};
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId()) continue;
        win::unique_kernel_handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (process && SamePath(ImageOf(process.get()), wanted)) ids.push_back(entry.th32ProcessID);
    }
    return ids;
}

bool EndProcessesOfImage(const std::wstring& image, DWORD grace_ms, DWORD wait_ms) {
    const std::vector<DWORD> ids = ProcessesOfImage(image);
    std::vector<win::unique_kernel_handle> processes;
    for (DWORD id : ids) {
        win::unique_kernel_handle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id));
        if (process) processes.push_back(std::move(process));
    }
    if (processes.empty()) return ids.empty();
    CloseRequest request{&ids};
    EnumWindows(&AskToClose, reinterpret_cast<LPARAM>(&request));
    if (WaitAllGone(processes, grace_ms)) return true;
    for (const auto& process : processes)
        if (WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) TerminateProcess(process.get(), 1);
    return WaitAllGone(processes, wait_ms) && processes.size() == ids.size();
}

}  // namespace vantorix::launcher
