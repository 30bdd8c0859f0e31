#include "launcher/app/elevation.h"

// 1 in a test build that carries the elevation seam (CMake: VANTORIX_TEST_ELEVATION_SEAM); 0 otherwise.
#ifndef VANTORIX_ELEVATION_SEAM
#define VANTORIX_ELEVATION_SEAM 0
#endif

#include <cstdlib>

#include "launcher/services/wide_text.h"
#include "win/diagnostic_log.h"
#include "win/file_exists.h"
#include "win/message_pump.h"

namespace vantorix::launcher {

namespace {

constexpr wchar_t kLogPlace[] = L"elevation";

// The harness answers within seconds; a seam left without an answer must not hold the launcher for ever.
constexpr ULONGLONG kSeamPatienceMs = 10 * 60 * 1000;

// The elevation seam: the step's exit code, or "declined", as the harness answers.
ElevatedRun RunThroughSeam(const std::wstring& folder, const std::wstring& program, const std::wstring& parameters) {
    unsigned long error = 0;
    const auto said = AskTestSeam(folder, L"elevation", services::Utf8(program) + "\n" + services::Utf8(parameters) + "\n", error);
    if (!said) return {ElevationStatus::Failed, 0, error};
    if (said->rfind("declined", 0) == 0) return {ElevationStatus::Declined, 0, ERROR_CANCELLED};
    return {ElevationStatus::Started, std::strtoul(said->c_str(), nullptr, 10), 0};
}


}  // namespace

std::wstring TestSeamFolder(TestSeam seam) {
#if VANTORIX_ELEVATION_SEAM
    // The variables' names are in test builds only.
    const wchar_t* variable = seam == TestSeam::Elevation ? L"VANTORIX_TEST_ELEVATION" : L"VANTORIX_TEST_SERVICE";
    wchar_t buffer[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(variable, buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : L"";
#else
    (void)seam;
    return L"";
#endif
}

std::optional<std::string> AskTestSeam(const std::wstring& folder, const std::wstring& name, const std::string& request_text,
                                       unsigned long& error) {
    const std::wstring request = folder + L"\\" + name + L"-request.txt", answer = folder + L"\\" + name + L"-answer.txt";
    DeleteFileW(answer.c_str());
    {
        win::unique_hfile file(CreateFileW((request + L".new").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        if (!file || !WriteFile(file.get(), request_text.data(), static_cast<DWORD>(request_text.size()), &written, nullptr)) {
            error = GetLastError();
            return std::nullopt;
        }
    }
    if (!MoveFileExW((request + L".new").c_str(), request.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        error = GetLastError();
        return std::nullopt;
    }
    const ULONGLONG end = GetTickCount64() + kSeamPatienceMs;
    while (!win::PathExists(answer)) {
        if (GetTickCount64() >= end) {
            error = ERROR_TIMEOUT;
            return std::nullopt;
        }
        win::WaitAnswering(nullptr, 100);
    }
    win::WaitAnswering(nullptr, 100);  // the harness writes the answer in one go; let it finish
    const std::string said = win::ReadSmallFile(answer);
    // The request goes first: a harness that sees an answer without its request waits for the next one.
    DeleteFileW(request.c_str());
    DeleteFileW(answer.c_str());
    return said;
}

ElevatedStart StartElevated(const std::wstring& program, const std::wstring& parameters, const std::wstring& folder,
                            HWND owner, ShellExecuteFunction shell_execute) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpVerb = L"runas";
    info.lpFile = program.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    info.nShow = SW_HIDE;
    ElevatedStart start;
    if (!shell_execute(&info)) {
        start.error = GetLastError();
        start.status = start.error == ERROR_CANCELLED ? ElevationStatus::Declined : ElevationStatus::Failed;
        win::diag::Record(kLogPlace, start.status == ElevationStatus::Declined ? L"the user declined " + parameters
                                                                                 : L"could not start " + parameters,
                          start.error);
        return start;
    }
    start.status = ElevationStatus::Started;
    start.process.reset(info.hProcess);
    win::diag::Record(kLogPlace, L"started " + parameters.substr(0, parameters.find(L' ')));
    return start;
}

ElevatedRun RunElevated(const std::wstring& program, const std::wstring& parameters, HWND owner) {
    const std::wstring seam = TestSeamFolder(TestSeam::Elevation);
    if (!seam.empty()) {
        win::diag::Record(kLogPlace, L"handed to the test seam: " + parameters.substr(0, parameters.find(L' ')));
        return RunThroughSeam(seam, program, parameters);
    }
    const size_t cut = program.find_last_of(L'\\');
    ElevatedStart start = StartElevated(program, parameters, cut == std::wstring::npos ? L"" : program.substr(0, cut), owner);
    if (start.status != ElevationStatus::Started) return {start.status, 0, start.error};
    if (!start.process) return {ElevationStatus::Failed, 0, ERROR_INVALID_HANDLE};
    win::WaitAnswering(start.process.get(), INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(start.process.get(), &code)) return {ElevationStatus::Failed, 0, GetLastError()};
    win::diag::Record(kLogPlace, L"the elevated step ended", code);
    return {ElevationStatus::Started, code, 0};
}

}  // namespace vantorix::launcher
