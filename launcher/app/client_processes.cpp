#include "launcher/app/client_processes.h"

#include <algorithm>

#include "win/end_program.h"
#include "win/unique_handle.h"

namespace vantorix::launcher {

namespace {

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

bool EndProcessesOfImage(const std::wstring& image, DWORD grace_ms, DWORD wait_ms) {
    const std::vector<DWORD> ids = win::ProcessesOfImage(image);
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
