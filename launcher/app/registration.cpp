#include "launcher/app/registration.h"

#include "common/update_flow/install_step.h"
#include "launcher/app/control_library.h"
#include "launcher/app/elevation.h"
#include "win/diagnostic_log.h"
#include "win/file_exists.h"
#include "win/process.h"

namespace vantorix::launcher {

namespace {

constexpr unsigned long long kStepPatienceMs = 60000;

}  // namespace

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
    return !file.empty() && win::FileExists(file) && ControlClassesRegisteredAt(file);
}

update_flow::RegistrationStart Registration::Start() {
    // The step is this very program, from its installation, started with one argument.
    const std::wstring program = installation_.Path(L"\\VantorixAssist.exe");
    started_ms_ = GetTickCount64();
    if (!starter_.is_elevated()) {
        ElevatedStart start =
            StartElevated(program, update_flow::kRegisterArgument, installation_.Folder(), nullptr, starter_.shell_execute);
        step_ = std::move(start.process);
        switch (start.status) {
        case ElevationStatus::Started: return update_flow::RegistrationStart::Started;
        case ElevationStatus::Declined: return update_flow::RegistrationStart::Declined;
        case ElevationStatus::Failed: break;
        }
        return update_flow::RegistrationStart::Failed;
    }
    step_ = win::StartProgramTracked(program, {update_flow::kRegisterArgument}, SW_HIDE, installation_.Folder());
    if (!step_) win::diag::RecordLastError(L"registration", L"the registration step could not be started");
    return step_ ? update_flow::RegistrationStart::Started : update_flow::RegistrationStart::Failed;
}

bool Registration::Running() const {
    return step_ && WaitForSingleObject(step_.get(), 0) == WAIT_TIMEOUT &&
           GetTickCount64() - started_ms_ < kStepPatienceMs;
}

}  // namespace vantorix::launcher
