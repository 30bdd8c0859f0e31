#pragma once
// Where the library's boundaries record what they turn into their own form (a refused call, a host's
// handler that faulted or threw, an engine callback that failed).
//
// The library runs inside hosts whose own logs it cannot reach (each module has its own copy of the shared
// log's state), and such failures in a foreign host are otherwise seen by nobody: the first record opens the
// library's own per-user log, "%LOCALAPPDATA%\VantorixAssist\logs\Velview_G_201.log" (bounded and rotated
// like every log of the system). A host that never fails gets no file. A program that links the library's
// code and has opened a log of its own keeps it.
#include <string>

namespace velview {

// Never throws: a record that cannot be made (no memory) is dropped. A caller that builds `what` from parts
// makes that text itself and so guards its own allocation.
void Record(const wchar_t* where, const std::wstring& what, unsigned long code = 0) noexcept;
void Record(const wchar_t* where, const wchar_t* what, unsigned long code = 0) noexcept;
// The exception being handled, from inside the catch block of a boundary (see diag::RecordCurrentException).
void RecordCurrentException(const wchar_t* where, const wchar_t* what) noexcept;

}  // namespace velview
