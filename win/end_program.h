#pragma once
// Ending the running instances of one program file. Processes are picked by the full path of their image,
// never by the file name alone: another program called client.exe elsewhere on the machine is left alone.
#include <windows.h>

#include <string>
#include <vector>

namespace vantorix::win {

// Ids of the other processes whose program file is `path`: the long, absolute forms compared without regard
// to case, so that "C:\PROGRA~1\x.exe" and "c:\program files\x.exe" meet.
std::vector<DWORD> ProcessesOfImage(const std::wstring& path);

// Ends every process whose program file is exactly `path` (compared without regard to case) and waits up
// to `waitMs` for each to be gone, so the caller can then delete the file. Returns how many were ended.
int EndProgram(const std::wstring& path, unsigned long waitMs = 5000);

}  // namespace vantorix::win
