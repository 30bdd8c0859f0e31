#pragma once
// Finding and ending the running instances of one program file. Processes are picked by the full path of
// their image, never by the file name alone: another program called client.exe elsewhere on the machine is
// left alone. Each process is checked and ended through one handle, opened once: while the handle is open
// the system does not give its id to another process, so a process that ended and whose id was reused in
// between is never ended in its place.
#include <windows.h>

#include <string>
#include <vector>

#include "win/unique_handle.h"

namespace vantorix::win {

struct FoundProcess {
    DWORD id = 0;
    unique_kernel_handle handle;  // holds the id: it names this process as long as the handle is open
};

// The other processes whose program file is `path` (the long, absolute forms compared without regard to
// case, so that "C:\PROGRA~1\x.exe" and "c:\program files\x.exe" meet), each opened with `access` besides
// the query right its image is read through. A process that cannot be opened so is not listed.
std::vector<FoundProcess> FindProcessesOfImage(const std::wstring& path, DWORD access = SYNCHRONIZE);

// Ends every process whose program file is exactly `path` (compared without regard to case) and waits up
// to `waitMs` for each to be gone, so the caller can then delete the file. Returns how many were ended.
int EndProgram(const std::wstring& path, unsigned long waitMs = 5000);

}  // namespace vantorix::win
