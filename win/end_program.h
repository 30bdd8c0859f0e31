#pragma once
// Ending the running instances of one program file. Processes are picked by the full path of their image,
// never by the file name alone: another program called client.exe elsewhere on the machine is left alone.
#include <string>

namespace vantorix::win {

// Ends every process whose program file is exactly `path` (compared without regard to case) and waits up
// to `waitMs` for each to be gone, so the caller can then delete the file. Returns how many were ended.
int EndProgram(const std::wstring& path, unsigned long waitMs = 5000);

}  // namespace vantorix::win
