#include "launcher/app/service_install.h"

#include <cstdlib>

#include "common/update_flow/install_step.h"
#include "common/update_flow/service_request.h"
#include "launcher/app/elevation.h"
#include "launcher/app/service_config.h"
#include "launcher/services/system_random.h"
#include "launcher/services/wide_text.h"
#include "win/diagnostic_log.h"
#include "win/file_exists.h"
#include "win/message_pump.h"
#include "win/unique_handle.h"

namespace vantorix::launcher {

namespace {

using update_flow::StepExit;

constexpr wchar_t kLogPlace[] = L"service";
constexpr ULONGLONG kPollMs = 200;
// The harness answers within seconds and the service writes its result when the install ends; a seam left
// without either must not hold the launcher for ever.
constexpr ULONGLONG kSeamPatienceMs = 10 * 60 * 1000;

enum class Start { Started, Unavailable, Busy, Failed };

struct Started {
    Start start = Start::Failed;
    unsigned long error = 0;
    win::unique_sc_handle manager, service;  // when started through the service manager
};

Started Outcome(Start start, unsigned long error) {
    Started started;
    started.start = start;
    started.error = error;
    return started;
}

// What a failed start means for the caller: the service is not there or not ours to start (ask for the
// elevated step), or it runs another request (that one is answered, this one refused).
Start Judge(unsigned long error) {
    switch (error) {
    case ERROR_SUCCESS: return Start::Started;
    case ERROR_SERVICE_ALREADY_RUNNING: return Start::Busy;
    case ERROR_ACCESS_DENIED:
    case ERROR_SERVICE_DOES_NOT_EXIST:
    case ERROR_SERVICE_DISABLED:
    case ERROR_SERVICE_MARKED_FOR_DELETE:
    case ERROR_INVALID_NAME:
    case RPC_S_SERVER_UNAVAILABLE:
        return Start::Unavailable;
    default: return Start::Failed;
    }
}

Started StartThroughSeam(const std::wstring& folder, const std::wstring& name, const std::vector<std::wstring>& arguments) {
    std::string text = services::Utf8(name) + "\n";
    for (const auto& argument : arguments) text += services::Utf8(argument) + "\n";
    unsigned long error = 0;
    const auto said = AskTestSeam(folder, L"service", text, error);
    if (!said) return Outcome(Start::Failed, error);
    error = said->empty() ? ERROR_INVALID_DATA : std::strtoul(said->c_str(), nullptr, 10);
    return Outcome(Judge(error), error);
}

Started StartThroughManager(const std::wstring& name, const std::vector<std::wstring>& arguments) {
    Started started;
    started.manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (started.manager)
        started.service.reset(OpenServiceW(started.manager.get(), name.c_str(), SERVICE_START | SERVICE_QUERY_STATUS));
    std::vector<LPCWSTR> values;
    for (const auto& argument : arguments) values.push_back(argument.c_str());
    if (!started.service || !StartServiceW(started.service.get(), static_cast<DWORD>(values.size()), values.data())) {
        started.error = GetLastError();
        started.start = Judge(started.error) == Start::Started ? Start::Failed : Judge(started.error);
        return started;
    }
    started.start = Start::Started;
    return started;
}

std::optional<unsigned long> ReadResult(const std::wstring& path) {
    if (!win::PathExists(path)) return std::nullopt;
    return update_flow::ParseServiceResult(win::ReadSmallFile(path));
}

// Waits for the request's result. Through the service manager: until the service has stopped (a result
// written just before is read once more then); through the seam: until the result appears.
unsigned long AwaitResult(const std::wstring& path, const Started& started) {
    const ULONGLONG end = GetTickCount64() + kSeamPatienceMs;
    for (;;) {
        if (const auto code = ReadResult(path)) return *code;
        if (started.service) {
            SERVICE_STATUS status{};
            if (!QueryServiceStatus(started.service.get(), &status)) {
                win::diag::RecordLastError(kLogPlace, L"the service's state cannot be read");
                return static_cast<unsigned long>(StepExit::Failed);
            }
            if (status.dwCurrentState == SERVICE_STOPPED) {
                if (const auto code = ReadResult(path)) return *code;
                // Refused before the request was read (the policy, a program outside its installation): the
                // service's own exit code says why; only the service sets it.
                const unsigned long code = status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR
                                               ? status.dwServiceSpecificExitCode
                                               : static_cast<unsigned long>(StepExit::Failed);
                win::diag::Record(kLogPlace, L"the service stopped without a result", code);
                return code ? code : static_cast<unsigned long>(StepExit::Failed);
            }
        } else if (GetTickCount64() >= end) {
            win::diag::Record(kLogPlace, L"no result from the service", ERROR_TIMEOUT);
            return static_cast<unsigned long>(StepExit::Failed);
        }
        win::WaitAnswering(nullptr, kPollMs);
    }
}

std::optional<std::wstring> NewNonce() {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::wstring nonce;
    for (int i = 0; i < 4; ++i) {
        const auto value = services::SystemRandom32();
        if (!value) return std::nullopt;
        for (int shift = 28; shift >= 0; shift -= 4) nonce += static_cast<wchar_t>(kDigits[(*value >> shift) & 0xF]);
    }
    return nonce;
}

}  // namespace

std::optional<unsigned long> InstallThroughService(const std::wstring& installation,
                                                   const std::vector<std::wstring>& step_arguments) {
    if (ServicePolicyDisables()) {
        win::diag::Record(kLogPlace, L"the maintenance service is disabled by policy");
        return std::nullopt;
    }
    const std::wstring seam = TestSeamFolder(TestSeam::Service);
    const std::wstring name = ServiceServing(installation);
    if (name.empty()) return std::nullopt;
    const auto nonce = NewNonce();
    if (!nonce) {
        win::diag::RecordLastError(kLogPlace, L"no nonce for a request");
        return std::nullopt;
    }
    const std::vector<std::wstring> arguments = update_flow::ServiceStartArguments(*nonce, step_arguments);
    const Started started = seam.empty() ? StartThroughManager(name, arguments) : StartThroughSeam(seam, name, arguments);
    switch (started.start) {
    case Start::Unavailable:
        win::diag::Record(kLogPlace, L"the maintenance service cannot be started by this user", started.error);
        return std::nullopt;
    case Start::Busy:
        win::diag::Record(kLogPlace, L"the maintenance service runs another request", started.error);
        return static_cast<unsigned long>(StepExit::InstallBusy);
    case Start::Failed:
        win::diag::Record(kLogPlace, L"the maintenance service did not start", started.error);
        return static_cast<unsigned long>(StepExit::Failed);
    case Start::Started: break;
    }
    win::diag::Record(kLogPlace, L"request handed to the maintenance service");
    const unsigned long code = AwaitResult(update_flow::ServiceResultPathOf(installation, *nonce), started);
    win::diag::Record(kLogPlace, L"the maintenance service answered", code);
    return code;
}

}  // namespace vantorix::launcher
