#pragma once
// Where an open file or folder really is: the path its handle resolves to, whatever link, junction, short
// name or drive mapping led to it.
#include <windows.h>

#include <string>

namespace vantorix::win {

// GetFinalPathNameByHandleW with the drive letter, without its "\\?\" prefix ("\\server\share\..." for a
// network path); "" when it cannot be told.
std::wstring FinalPathOf(HANDLE file);

}  // namespace vantorix::win
