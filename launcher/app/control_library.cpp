#include "launcher/app/control_library.h"

#include <windows.h>
#include <ole2.h>

#include "launcher/services/services.h"
#include "win/diagnostic_log.h"
#include "win/file_exists.h"
#include "win/unique_handle.h"

namespace vantorix::launcher {

namespace {

using update_flow::StepExit;

// The creatable classes of Velview_G_201.ocx (its type library's coclasses), each registered with the
// library file as its InprocServer32.
constexpr const wchar_t* kControlClasses[] = {
    L"{826E8247-C0AD-49DE-A6D6-FA7F5E10FE6F}",  // Velview
    L"{291EBAC3-68F7-4653-825E-C9ED862F45FE}",  // VelviewCls
    L"{78A87BCF-47DB-4C87-825D-64C638194D4C}",  // MiniblinkAPI
    L"{8F6F4147-2068-47E8-8B9B-64A89CCEC397}",  // MiniblinkCallBack
    L"{2DE3A1C3-E274-4CF3-A549-CEA9CB394BDD}",  // MiniblinkTypeEnum
};

// The default value of a class's InprocServer32 key (REG_EXPAND_SZ comes expanded), quotes removed.
std::wstring InprocServerOf(const std::wstring& clsid) {
    const std::wstring key = L"CLSID\\" + clsid + L"\\InprocServer32";
    wchar_t value[MAX_PATH * 2] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return L"";
    std::wstring path = value;
    if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') path = path.substr(1, path.size() - 2);
    return path;
}

// The long form of a path ("C:\PROGRA~1" -> "C:\Program Files"), or the path itself when it has none.
std::wstring LongPath(const std::wstring& path) {
    wchar_t buffer[MAX_PATH * 2] = {};
    const DWORD n = GetLongPathNameW(path.c_str(), buffer, ARRAYSIZE(buffer));
    return n > 0 && n < ARRAYSIZE(buffer) ? std::wstring(buffer, n) : path;
}

bool SameFile(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(LongPath(a).c_str(), -1, LongPath(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

LibraryInstall Failure(const wchar_t* what, unsigned long code) {
    win::diag::Record(L"control library", what, code);
    return {StepExit::ComponentsFailed, what, code};
}

// Copies beside the target under a temporary name, then moves it over the target. A target that a running
// program has loaded cannot be replaced but can be renamed: it is moved aside and goes at the next restart.
DWORD PlaceFile(const std::wstring& source, const std::wstring& target) {
    const std::wstring fresh = target + L".new";
    if (!CopyFileW(source.c_str(), fresh.c_str(), FALSE)) return GetLastError();
    if (MoveFileExW(fresh.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
    const std::wstring aside = target + L"." + std::to_wstring(GetTickCount64()) + L".old";
    if (!MoveFileExW(target.c_str(), aside.c_str(), 0) ||
        !MoveFileExW(fresh.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        DeleteFileW(fresh.c_str());
        return error;
    }
    MoveFileExW(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return 0;
}

// DllRegisterServer of the library, as regsvr32 calls it.
HRESULT RegisterLibrary(const std::wstring& file) {
    win::unique_hmodule library(LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!library) return HRESULT_FROM_WIN32(GetLastError());
    using Register = HRESULT(STDAPICALLTYPE*)();
    const auto entry = reinterpret_cast<Register>(
        reinterpret_cast<void*>(GetProcAddress(library.get(), "DllRegisterServer")));
    if (!entry) return HRESULT_FROM_WIN32(GetLastError());
    const HRESULT ole = OleInitialize(nullptr);
    const HRESULT registered = entry();
    if (SUCCEEDED(ole)) OleUninitialize();
    return registered;
}

}  // namespace

std::wstring SystemLibraryFolder() {
    wchar_t folder[MAX_PATH] = {};
    const UINT n = services::IsWow64() ? GetSystemWow64DirectoryW(folder, MAX_PATH) : GetSystemDirectoryW(folder, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(folder, n) : L"";
}

std::wstring ControlFilePath() {
    const std::wstring folder = SystemLibraryFolder();
    return folder.empty() ? L"" : folder + L"\\" + update_flow::kControlFileName;
}

bool ControlClassesRegisteredAt(const std::wstring& file) {
    for (const wchar_t* clsid : kControlClasses) {
        const std::wstring server = InprocServerOf(clsid);
        if (server.empty() || !SameFile(server, file)) return false;
    }
    return true;
}

LibraryInstall InstallControlLibrary(const std::wstring& installation_folder) {
    const std::wstring folder = SystemLibraryFolder();
    const std::wstring library = installation_folder + kControlInInstallation;
    const std::wstring engine = installation_folder + kEngineInInstallation;
    if (folder.empty()) return Failure(L"the system names no system folder", GetLastError());
    if (!win::FileExists(library)) return Failure(L"the installation holds no control library", ERROR_FILE_NOT_FOUND);
    // The library loads the engine from its own folder: the engine goes first.
    if (win::FileExists(engine)) {
        if (const DWORD error = PlaceFile(engine, folder + L"\\node.dll"))
            return Failure(L"the engine could not be put into the system folder", error);
    }
    const std::wstring target = ControlFilePath();
    if (const DWORD error = PlaceFile(library, target))
        return Failure(L"the control library could not be put into the system folder", error);
    const HRESULT registered = RegisterLibrary(target);
    if (FAILED(registered)) {
        DeleteFileW(target.c_str());
        return Failure(L"the control library did not register", static_cast<unsigned long>(registered));
    }
    win::diag::Record(L"control library", L"engine and control library in the system folder, registered");
    return {};
}

}  // namespace vantorix::launcher
