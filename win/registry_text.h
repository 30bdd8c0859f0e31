#pragma once
// Reading the machine's configuration: a key of HKEY_LOCAL_MACHINE in a chosen view, and its text values.
#include <windows.h>

#include <optional>
#include <string>

#include "win/unique_handle.h"

namespace vantorix::win {

// The key opened for reading in `view` (KEY_WOW64_32KEY: where a 32-bit setup writes, also on 64-bit
// Windows); an empty owner when it is not there or may not be read.
unique_hkey OpenMachineKey(const std::wstring& path, REGSAM view = KEY_WOW64_32KEY);

// A REG_SZ value without its terminator (and anything after a stray one); nullopt when it is missing, of
// another type or longer than a path may be.
std::optional<std::wstring> ReadTextValue(HKEY key, const wchar_t* value);

}  // namespace vantorix::win
