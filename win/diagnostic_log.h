#pragma once
// The diagnostic log for support: one bounded, rotated text file per program and user, written by every
// boundary that turns a failure into its own form (an HRESULT, a status text, a refused update), so a
// failure in the field leaves its reason and code behind. No personal data goes in: the user's profile
// folder is written as "%USERPROFILE%", and callers record versions and codes, never page or manifest texts.
//
// Each line is UTF-8: "2026-12-09T10:11:12Z 1234 where: what (code 0x00000005)". A record appends one
// line and closes the file again, so a process killed at any moment leaves every earlier line whole and
// two processes of one program may share one log. When the file would grow past its limit it is renamed
// to <file>.1 (replacing the older one) and a new file begun: at most twice the limit stays on disk.
//
// Until a program opens its log (or where it cannot be written), records go to the debugger through
// OutputDebugString only; every record goes there too.
#include <string>

namespace vantorix::win::diag {

inline constexpr unsigned long kDefaultLimitBytes = 256 * 1024;

// Sends the following records to this file (its folder is created when missing). A path that is a link,
// or a folder that cannot be made, leaves the records with the debugger only; false then.
bool OpenLog(const std::wstring& path, unsigned long limit_bytes = kDefaultLimitBytes);
// "%LOCALAPPDATA%\VantorixAssist\logs\<file_name>", from the system's known folder (not the environment);
// "" when the system names no such folder.
std::wstring PerUserLogPath(const std::wstring& file_name);
// The log in use ("" when none).
std::wstring LogPath();

// One line: where (the boundary or module), what happened, and the system's code (0: none).
void Record(const wchar_t* where, const std::wstring& what, unsigned long code = 0);
// The same with the calling thread's GetLastError() as the code.
void RecordLastError(const wchar_t* where, const std::wstring& what);
// The exception being handled, recorded from inside the catch block that stops it at a boundary:
// "where: what: <its message>" for a standard exception, "where: what" for anything else. Never throws: a
// record that cannot be made (no memory) is dropped, so a boundary may call it from any catch block.
void RecordCurrentException(const wchar_t* where, const wchar_t* what) noexcept;
// The message of the exception being handled (its what()), nullptr for anything but a standard exception.
// Only from inside a catch block; the text lives as long as the exception is handled.
const char* CurrentExceptionMessage() noexcept;

}  // namespace vantorix::win::diag
