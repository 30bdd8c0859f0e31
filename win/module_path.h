#pragma once
// Where a module's file lies: the one place the programs and the library ask the system for it.
#include <windows.h>

#include <string>

namespace vantorix::win {

// The full path of `module`'s file (nullptr: the running program's), however long; "" when the system
// cannot say.
std::wstring ModulePath(HMODULE module = nullptr);
// The folder of that file, without a trailing backslash, except that a drive root keeps it ("C:\"), as the
// programs have always written their own folder; "" when the system cannot say.
std::wstring ModuleFolder(HMODULE module = nullptr);
// `folder` joined with `relative`, which begins with "\": one backslash between them, also after a
// drive root ("C:\" + "\bin\client.exe" is "C:\bin\client.exe").
std::wstring JoinPath(const std::wstring& folder, const std::wstring& relative);

}  // namespace vantorix::win
