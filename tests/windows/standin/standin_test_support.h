#pragma once
// Calling the stand-in engine's exports the way the control library does: resolved by name, cdecl.
#include <windows.h>

#include <cstdint>
#include <string>

#include "engine-standin/standin_control.h"

namespace standin_test {

FARPROC Export(const char* name);

template <class F>
F Fn(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(Export(name)));
}

using JsValue = std::uint64_t;

// Frequently used exports.
int CreateStringW(const wchar_t* text, int length);
std::wstring GetStringW(int handle);
std::string GetString(int handle);
JsValue JsArg(int es, int index);
std::wstring JsToTempStringW(int es, JsValue value);
int JsToInt(int es, JsValue value);
int LastEntry(const char* name);  // the index of the last log entry of that export; -1 when none
std::string LogLine(int entry);

// A top-level window that tests use as parent of web windows.
HWND TestParentWindow();
// Writes a UTF-8 file in the temporary folder and returns its path.
std::wstring WriteTempFile(const std::wstring& name, const std::string& utf8);
// Runs the pending window messages of this thread.
void PumpMessages();

}  // namespace standin_test
