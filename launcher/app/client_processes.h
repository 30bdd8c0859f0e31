#pragma once
// The running copies of one program file, found by the full path of their image, so that the launcher
// ends its own installation's client before replacing it and never another vendor's program that only
// shares the file name.
#include <windows.h>

#include <string>
#include <vector>

namespace vantorix::launcher {


// Asks every process of `image` to close (WM_CLOSE to its top-level windows), ends those still running
// after `grace_ms`, and waits at most `wait_ms` more until all are gone. True when none is left.
bool EndProcessesOfImage(const std::wstring& image, DWORD grace_ms, DWORD wait_ms);

}  // namespace vantorix::launcher
