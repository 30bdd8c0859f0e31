#pragma once
// The stand-in engine as the tests drive it: the few engine exports they call directly, and views.
#include <windows.h>

#include <cstdint>
#include <string>

#include "engine-standin/standin_control.h"

extern "C" {
void __cdecl wkeInitialize();
int __cdecl wkeCreateWebView();
int __cdecl wkeCreateStringW(const wchar_t* text, int length);
const wchar_t* __cdecl wkeGetStringW(int engineString);
int __cdecl jsGetWebView(int es);
int __cdecl jsArgCount(int es);
}

namespace callbacks_test {

// A new window-less view of the stand-in engine (initialised on first use).
int NewView();

// The text of an engine string object.
std::wstring EngineString(int engineString);

// Calls the engine registration export `registration` (cdecl: view, callback, param) by name.
void RegisterWithEngine(const char* registration, int view, std::uint32_t callback, int param);

}  // namespace callbacks_test
