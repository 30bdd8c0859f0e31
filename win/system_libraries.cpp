#include "win/system_libraries.h"

#include <windows.h>
#include <delayimp.h>

#include <string>

namespace vantorix::win {

namespace {

// Runs before the delay-load helper loads a library: the system folder's file, by its full path. Its
// own dependencies are then searched from that folder (LOAD_WITH_ALTERED_SEARCH_PATH), not the program's.
FARPROC WINAPI LoadFromSystemFolder(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary || !info || !info->szDll) return nullptr;
    std::wstring name;
    for (const char* c = info->szDll; *c; ++c) name += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    return reinterpret_cast<FARPROC>(LoadSystemLibrary(name.c_str()));
}

}  // namespace

HMODULE LoadSystemLibrary(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    std::wstring path(folder, n);
    path += L'\\';
    path += name;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void LoadSystemLibrariesFromSystemFolderOnly() {
    // SetDefaultDllDirectories came with Windows 8 (and an update of Windows 7): asked for, not imported.
    using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
    const auto set_default = reinterpret_cast<SetDefaultDirectories>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (!set_default || !set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
}

}  // namespace vantorix::win

// The delay-load helper's notification hook (one per program; it is read by the helper at each first call).
PfnDliHook __pfnDliNotifyHook2 = &vantorix::win::LoadFromSystemFolder;
