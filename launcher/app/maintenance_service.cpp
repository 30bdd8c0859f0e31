#include "launcher/app/maintenance_service.h"

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "common/update_flow/install_step.h"
#include "common/update_flow/service_request.h"
#include "launcher/app/install_steps.h"
#include "launcher/app/installation.h"
#include "launcher/app/protected_installation.h"
#include "launcher/app/service_config.h"
#include "launcher/services/authenticode.h"
#include "launcher/services/services.h"
#include "win/diagnostic_log.h"
#include "win/file_exists.h"
#include "win/unique_handle.h"

namespace vantorix::launcher {

namespace {

using update_flow::StepExit;

constexpr wchar_t kLogPlace[] = L"service";
// Results are read by the launcher within moments of being written; a day later nobody waits for them.
constexpr ULONGLONG kResultLifetime100ns = 24ull * 60 * 60 * 10'000'000;
// SYSTEM and the administrators write the results; everyone reads them (a result is an exit code, no secret,
// and every user's launcher must read its own). Nothing inherited from above.
constexpr wchar_t kResultsFolderSecurity[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGX;;;WD)";

// The service manager's handle for this run: it belongs to the service manager and is never closed.
SERVICE_STATUS_HANDLE g_status = nullptr;
int g_exit = static_cast<int>(StepExit::Failed);

void Report(DWORD state, int exit_code) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    // An install is never cut short: while a request runs the service takes no stop or pause; it stops
    // itself when the request is done.
    status.dwControlsAccepted = 0;
    status.dwWin32ExitCode = exit_code ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
    status.dwServiceSpecificExitCode = static_cast<DWORD>(exit_code);
    if (!SetServiceStatus(g_status, &status)) win::diag::RecordLastError(kLogPlace, L"the service status was not taken");
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

int Refuse(const std::wstring& why) {
    win::diag::Record(kLogPlace, L"request refused: " + why, static_cast<unsigned long>(StepExit::ServiceRefused));
    return static_cast<int>(StepExit::ServiceRefused);
}

// "\update\results", made with its own rights when missing; false when it is not a real folder.
bool MakeResultsFolder(const std::wstring& installation) {
    const std::wstring folder = update_flow::ServiceResultsFolderOf(installation);
    if (win::IsRealFolder(folder)) return true;
    win::unique_local_memory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kResultsFolderSecurity, SDDL_REVISION_1,
                                                              reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()),
                                                              nullptr)) {
        win::diag::RecordLastError(kLogPlace, L"no security descriptor for the results folder");
        return false;
    }
    SECURITY_ATTRIBUTES security{sizeof security, descriptor.get(), FALSE};
    CreateDirectoryW(update_flow::UpdateFolderOf(installation).c_str(), nullptr);
    if (!CreateDirectoryW(folder.c_str(), &security) && GetLastError() != ERROR_ALREADY_EXISTS)
        win::diag::RecordLastError(kLogPlace, L"the results folder could not be made");
    return win::IsRealFolder(folder);
}

// Results nobody will read any more go, so the folder holds no more than a day's requests.
void RemoveStaleResults(const std::wstring& installation) {
    const std::wstring folder = update_flow::ServiceResultsFolderOf(installation);
    FILETIME now_time{};
    GetSystemTimeAsFileTime(&now_time);
    const ULONGLONG now = (static_cast<ULONGLONG>(now_time.dwHighDateTime) << 32) | now_time.dwLowDateTime;
    WIN32_FIND_DATAW found{};
    win::unique_find search(FindFirstFileW((folder + L"\\*.result").c_str(), &found));
    for (bool more = static_cast<bool>(search); more; more = FindNextFileW(search.get(), &found)) {
        const ULONGLONG written =
            (static_cast<ULONGLONG>(found.ftLastWriteTime.dwHighDateTime) << 32) | found.ftLastWriteTime.dwLowDateTime;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || now < written || now - written < kResultLifetime100ns)
            continue;
        if (!DeleteFileW((folder + L"\\" + found.cFileName).c_str()))
            win::diag::RecordLastError(kLogPlace, L"a stale result could not be removed");
    }
}

// Written whole under a temporary name, then given its name; an existing result is never replaced.
bool WriteResult(const std::wstring& path, int exit_code) {
    const std::string text = update_flow::ServiceResultText(static_cast<unsigned long>(exit_code));
    const std::wstring temporary = path + L".new";
    {
        DeleteFileW(temporary.c_str());
        win::unique_hfile file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        DWORD written = 0;
        if (!file || !WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size() || !FlushFileBuffers(file.get()))
            return false;
    }
    if (MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD error = GetLastError();
    DeleteFileW(temporary.c_str());
    SetLastError(error);
    return false;
}

int Serve(const std::vector<std::wstring>& arguments) {
    // As the elevated step: no program is ever started from here, and only the protected installation the
    // setup registered is acted on (nothing is written elsewhere, not even a result).
    services::BecomeElevatedStep();
    const std::wstring own = AcceptedInstallation(Installation::OfThisProgram().Folder());
    if (own.empty()) return static_cast<int>(StepExit::InstallationRefused);
    if (ServicePolicyDisables()) return Refuse(L"the administrator's policy disables the service");
    const std::wstring served = ServedInstallation(arguments.empty() ? L"" : arguments[0]);
    if (served.empty()) return Refuse(L"no installation is configured for this service");
    if (!SameFolder(served, own)) return Refuse(L"this program is not in the installation the service serves");
#ifndef VANTORIX_UNSIGNED_BUILD
    // The signer the setup configured: this program must carry its valid signature, and the install then
    // takes only programs of the same signer (launcher/app/publisher_check.h).
    const std::string signer = AcceptedSigner(arguments[0]);
    if (signer.empty()) return Refuse(L"no signer is configured for this service");
    const integrity::SignatureFacts own_signature = services::ReadOwnAuthenticode();
    if (!own_signature.valid || own_signature.signer_key != signer)
        return Refuse(L"this program is not signed by the signer the service accepts");
#endif
    const auto request = update_flow::ParseServiceRequest(arguments);
    if (!request) return Refuse(L"the request is not <nonce> -install-update <package> <manifest> [-delta]");
    const std::wstring result = update_flow::ServiceResultPathOf(own, request->nonce);
    if (!MakeResultsFolder(own)) return static_cast<int>(StepExit::Failed);
    if (win::PathExists(result))
        return Refuse(L"a result for this nonce exists already");
    RemoveStaleResults(own);
    win::diag::Record(kLogPlace, L"request accepted");
    // Exactly what the elevated step does with the same arguments.
    const int code = RunInstallUpdateStep(request->step_arguments, own);
    if (!WriteResult(result, code)) win::diag::RecordLastError(kLogPlace, L"the result could not be written");
    return code;
}

void WINAPI ServiceMain(DWORD count, LPWSTR* values) {
    const std::vector<std::wstring> arguments(values, values + count);
    g_status = RegisterServiceCtrlHandlerExW(count ? values[0] : L"", &Control, nullptr);
    if (!g_status) {
        win::diag::RecordLastError(kLogPlace, L"the service manager took no control handler");
        return;
    }
    Report(SERVICE_RUNNING, 0);
    try {
        g_exit = Serve(arguments);
    } catch (...) {
        win::diag::Record(kLogPlace, L"the request ended by an unexpected failure");
        g_exit = static_cast<int>(StepExit::Failed);
    }
    Report(SERVICE_STOPPED, g_exit);
}

}  // namespace

int RunMaintenanceService() {
    // One service in this process: the service manager passes the name it was started under in argv[0].
    wchar_t any_name[] = L"";
    const SERVICE_TABLE_ENTRYW table[] = {{any_name, &ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        win::diag::RecordLastError(kLogPlace, L"not started by the service manager");
        return static_cast<int>(StepExit::ServiceRefused);
    }
    return g_exit;
}

}  // namespace vantorix::launcher
