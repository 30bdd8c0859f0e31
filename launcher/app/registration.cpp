#include "launcher/app/registration.h"

#include "launcher/services/services.h"
#include "win/process.h"

namespace vantorix::launcher {

namespace {

constexpr unsigned long long kScriptPatienceMs = 60000;

// The creatable classes of Velview_G_201.ocx (its type library's coclasses), each registered with the
// library file as its InprocServer32.
constexpr const wchar_t* kControlClasses[] = {
    L"{826E8247-C0AD-49DE-A6D6-FA7F5E10FE6F}",  // Velview
    L"{291EBAC3-68F7-4653-825E-C9ED862F45FE}",  // VelviewCls
    L"{78A87BCF-47DB-4C87-825D-64C638194D4C}",  // MiniblinkAPI
    L"{8F6F4147-2068-47E8-8B9B-64A89CCEC397}",  // MiniblinkCallBack
    L"{2DE3A1C3-E274-4CF3-A549-CEA9CB394BDD}",  // MiniblinkTypeEnum
};

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The default value of a class's InprocServer32 key (REG_EXPAND_SZ comes expanded), quotes removed.
std::wstring InprocServerOf(const std::wstring& clsid) {
    const std::wstring key = L"CLSID\\" + clsid + L"\\InprocServer32";
    wchar_t value[MAX_PATH * 2] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS)
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

// The script through the system's cmd.exe with the "runas" verb; Declined when the user said no.
update_flow::RegistrationStart StartElevated(const ScriptStarter& starter, const std::wstring& script,
                                             const std::wstring& folder, win::unique_kernel_handle& process) {
    wchar_t system[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring interpreter = std::wstring(system, n < MAX_PATH ? n : 0) + L"\\cmd.exe";
    // cmd /s /c strips exactly the outer pair of quotes and runs the quoted script inside unchanged.
    const std::wstring parameters = L"/d /s /c \"" + win::QuoteArgument(script) + L"\"";
    SHELLEXECUTEINFOW info{sizeof info};
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = interpreter.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = folder.c_str();
    info.nShow = SW_HIDE;
    if (!starter.shell_execute(&info)) {
        return GetLastError() == ERROR_CANCELLED ? update_flow::RegistrationStart::Declined
                                                 : update_flow::RegistrationStart::Failed;
    }
    process.reset(info.hProcess);
    return update_flow::RegistrationStart::Started;
}

}  // namespace

std::wstring ControlFilePath() {
    constexpr int kSystemRoot = 279;
    return update_flow::ControlFileIn(services::SpecialPath(kSystemRoot), services::IsWow64());
}

bool ControlClassesRegisteredAt(const std::wstring& file) {
    for (const wchar_t* clsid : kControlClasses) {
        const std::wstring server = InprocServerOf(clsid);
        if (server.empty() || !SameFile(server, file)) return false;
    }
    return true;
}

bool ProcessIsElevated() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return true;
    win::unique_kernel_handle token(raw);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    // A system without the question (no UAC) has nothing to elevate to.
    if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size)) return true;
    return elevation.TokenIsElevated != 0;
}

bool Registration::ControlInstalled() const {
    const std::wstring file = ControlFilePath();
    return FileExists(file) && ControlClassesRegisteredAt(file);
}

update_flow::RegistrationStart Registration::Start() {
    const std::wstring script = installation_.Path(update_flow::kScriptPath);
    const std::wstring folder = installation_.Path(L"\\Build");
    started_ms_ = GetTickCount64();
    if (!starter_.is_elevated()) return StartElevated(starter_, script, folder, script_);
    script_ = win::StartProgramTracked(script, {}, SW_HIDE, folder);
    return script_ ? update_flow::RegistrationStart::Started : update_flow::RegistrationStart::Failed;
}

bool Registration::Running() const {
    return script_ && WaitForSingleObject(script_.get(), 0) == WAIT_TIMEOUT &&
           GetTickCount64() - started_ms_ < kScriptPatienceMs;
}

}  // namespace vantorix::launcher
