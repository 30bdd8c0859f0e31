#include "launcher/app/client_processes.h"

#include <algorithm>

#include "win/end_program.h"

namespace vantorix::launcher {

namespace {

struct CloseRequest {
    const std::vector<win::FoundProcess>* processes;
};

BOOL CALLBACK AskToClose(HWND window, LPARAM context) {
    const auto* request = reinterpret_cast<const CloseRequest*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    // The ids are those of the open handles: no other process can carry them meanwhile.
    if (std::any_of(request->processes->begin(), request->processes->end(),
                    [owner](const win::FoundProcess& p) { return p.id == owner; }))
        PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

// Waits until every process has ended or the time is up; true when all have ended.
bool WaitAllGone(const std::vector<win::FoundProcess>& processes, DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    for (const auto& process : processes) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now < end ? static_cast<DWORD>(end - now) : 0;
        if (WaitForSingleObject(process.handle.get(), left) != WAIT_OBJECT_0) return false;
    }
    return true;
}

}  // namespace

bool EndProcessesOfImage(const std::wstring& image, DWORD grace_ms, DWORD wait_ms) {
    const std::vector<win::FoundProcess> processes = win::FindProcessesOfImage(image, SYNCHRONIZE | PROCESS_TERMINATE);
    if (processes.empty()) return true;
    CloseRequest request{&processes};
    EnumWindows(&AskToClose, reinterpret_cast<LPARAM>(&request));
    if (WaitAllGone(processes, grace_ms)) return true;
    for (const auto& process : processes)
        if (WaitForSingleObject(process.handle.get(), 0) == WAIT_TIMEOUT) TerminateProcess(process.handle.get(), 1);
    return WaitAllGone(processes, wait_ms);
}

}  // namespace vantorix::launcher
