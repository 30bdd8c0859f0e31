// VantorixAssist.exe: the launcher and updater. Its one form drives everything; closing the form ends it.
// Started with "-install-update" or "-register" it is one of its own elevated steps instead (see
// common/update_flow/install_step.h): no form, one exit code. Started by the service manager with "-service"
// it is the installation's maintenance service (launcher/app/maintenance_service.h).
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "common/update_flow/install_step.h"
#include "common/update_flow/service_request.h"
#include "common/update_flow/update_flow.h"
#include "launcher/app/install_recovery.h"
#include "launcher/app/install_steps.h"
#include "launcher/app/installation.h"
#include "launcher/app/maintenance_service.h"
#include "launcher/app/update_form.h"
#include "launcher/services/process_cost.h"
#include "launcher/services/services.h"
#include "win/diagnostic_log.h"
#include "win/end_program.h"
#include "win/instance_claim.h"
#include "win/module_path.h"
#include "win/system_libraries.h"

namespace {

using namespace vantorix;

std::vector<std::wstring> Arguments() {
    int count = 0;
    const win::unique_hlocal<LPWSTR> parts(CommandLineToArgvW(GetCommandLineW(), &count));
    std::vector<std::wstring> arguments;
    for (int i = 1; parts && i < count; ++i) arguments.emplace_back(parts.get()[i]);
    return arguments;
}

struct FormSearch {
    std::vector<win::FoundProcess> launchers;  // the other processes of this program
    bool found = false;
};

BOOL CALLBACK FindOtherForm(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<FormSearch*>(context);
    wchar_t name[64] = {};
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (!GetClassNameW(window, name, 64) || std::wstring(name) != launcher::UpdateForm::kWindowClass) return TRUE;
    for (const auto& process : search->launchers) search->found = search->found || process.id == owner;
    return !search->found;
}

// A form of this installation's launcher in another process: the first launcher, too busy to answer yet
// (the manifest fetch holds its thread).
bool AnotherLauncherFormExists() {
    FormSearch search{win::FindProcessesOfImage(win::ModulePath())};
    if (!search.launchers.empty()) EnumWindows(&FindOtherForm, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int RunLauncher(HINSTANCE instance, const std::wstring& argument_text) {
    // Every update decision and failure goes to the user's log, with its reason.
    win::diag::OpenLog(win::diag::PerUserLogPath(L"launcher.log"));
    win::diag::Record(L"launcher", L"started, " + services::ProcessCostText());
    const launcher::Installation installation = launcher::Installation::OfThisProgram();
    // The argument text as a whole, case-sensitive: only "-update" opens the form at once.
    const bool update_mode = argument_text == update_flow::kUpdateArgument;
    launcher::UpdateForm form(instance);
    // One launcher per installation and user: a later start (a second click, the page's "updateme", the
    // tray's "检查更新") brings the running one forward, asking for its form when it came with "-update",
    // and ends before it touches anything.
    win::InstanceClaim claim(L"VantorixAssist", installation.Folder(), launcher::UpdateForm::kWindowClass);
    const bool first = claim.claimed();
    if (claim.HandOver(update_mode ? launcher::UpdateForm::kShowFormRequest : 0)) {
        win::diag::Record(L"launcher", L"another launcher of this installation runs: brought it forward");
        return 0;
    }
    // The claim is the user's own but its launcher did not answer in time: while its form exists it is at
    // work (and will start the client or show its form itself); a second one must not run beside it.
    if (!first && AnotherLauncherFormExists()) {
        win::diag::Record(L"launcher", L"another launcher of this installation is busy: this start ends");
        return 0;
    }
    form.SetInstanceClaim(&claim);
    // An update cut short by a kill is settled (rolled back, or checked and its work files removed)
    // before anything reads the installation; one that another live launcher is committing is left alone.
    launcher::SettleAtStart(installation);
    form.Load(update_mode);
    MSG message;
    while (form.Window() && GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int) {
    win::LoadSystemLibrariesFromSystemFolderOnly();
    try {
        services::RememberRunningProgram();
        // The elevated steps come first: whatever folder a copy of this program runs from, a step's command
        // line is judged by the step's own checks (launcher/app/install_steps.h).
        const std::vector<std::wstring> parts = Arguments();
        if (!parts.empty() && (parts[0] == update_flow::kInstallUpdateArgument || parts[0] == update_flow::kRegisterArgument ||
                               parts[0] == update_flow::kRecoverArgument))
            return launcher::RunStep(parts, launcher::Installation::OfThisProgram().Folder());
        // The maintenance service, started by the service manager: its requests arrive as start arguments.
        if (parts.size() == 1 && parts[0] == update_flow::kServiceArgument) return launcher::RunMaintenanceService();
        // A new launcher that an update left in the installation's staging folder, started there to take
        // the place of the one that was running: it waits for that one to end, moves itself over it, ends.
        if (const auto staged_for = services::InstallationOfStagedCopy()) return services::FinishDeferredInstall(*staged_for);
        return RunLauncher(instance, arguments ? arguments : L"");
    } catch (...) {
        win::diag::Record(L"launcher", L"ended by an unexpected failure");
        return static_cast<int>(update_flow::StepExit::Failed);
    }
}
