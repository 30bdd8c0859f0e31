// Finding the control window of the stand-in engine in another process, by that process's id.
//
// The engine publishes its control window's handle in a named block of shared memory ("Local\VantorixStandin
// Control-<process id>") as soon as it makes the window. A lookup among message-only windows
// (FindWindowEx(HWND_MESSAGE, ...)) needs both processes to see the same message parent, and under Wine on a
// busy machine the other process's window was now and then not found at all although it existed; the
// published handle does not depend on that. The lookup stays as the way to find an engine of any process.
#pragma once

#include <windows.h>

#include <string>

#include "engine-standin/standin_control.h"

namespace standin {

inline std::wstring ControlBlockName(DWORD process_id) {
    return L"Local\\VantorixStandinControl-" + std::to_wstring(process_id);
}

// The control window of the engine in process `process_id`, or null while it has none.
inline HWND FindControlWindow(DWORD process_id) {
    if (HANDLE block = OpenFileMappingW(FILE_MAP_READ, FALSE, ControlBlockName(process_id).c_str())) {
        HWND published = nullptr;
        if (const void* view = MapViewOfFile(block, FILE_MAP_READ, 0, 0, sizeof(DWORD))) {
            published = reinterpret_cast<HWND>(static_cast<UINT_PTR>(*static_cast<const DWORD*>(view)));
            UnmapViewOfFile(view);
        }
        CloseHandle(block);
        if (published && IsWindow(published)) return published;
    }
    const std::wstring title = L"VantorixStandin " + std::to_wstring(process_id);
    return FindWindowExW(HWND_MESSAGE, nullptr, STANDIN_CONTROL_CLASS, title.c_str());
}

}  // namespace standin
