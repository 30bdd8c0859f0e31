#pragma once
// The running copies of one program file, found by the full path of their image, so that the launcher
// ends its own installation's client before replacing it and never another vendor's program that only
// shares the file name.
#include <windows.h>

#include <string>

namespace vantorix::launcher {

// Asks every process of `image` that this process may end to close (WM_CLOSE to its top-level windows),
// ends those still running after `grace_ms`, and waits at most `wait_ms` more until all are gone. True
// when none of them is left. Another user's processes cannot be opened so and are left alone.
bool EndProcessesOfImage(const std::wstring& image, DWORD grace_ms, DWORD wait_ms);

}  // namespace vantorix::launcher
