// VantorixAssist.exe: the launcher and updater. Its one form drives everything; closing the form ends it.
#include <windows.h>

#include <string>

#include "common/update_flow/update_flow.h"
#include "launcher/app/installation.h"
#include "launcher/app/update_form.h"
#include "launcher/services/services.h"
#include "win/diagnostic_log.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int) {
    try {
        // A new launcher that an update left in the installation's staging folder, started there to take
        // the place of the one that was running: it waits for that one to end, moves itself over it, ends.
        if (const auto installation = vantorix::services::InstallationOfStagedCopy())
            return vantorix::services::FinishDeferredInstall(*installation);
        // Every update decision and failure goes to the user's log, with its reason.
        vantorix::win::diag::OpenLog(vantorix::win::diag::PerUserLogPath(L"launcher.log"));
        // The argument text as a whole, case-sensitive: only "-update" opens the form at once.
        // An update cut short by a kill is settled (rolled back, or checked and its work files removed)
        // before anything reads the installation; one that another live launcher is committing is left alone.
        using vantorix::services::InstallRecovery;
        switch (vantorix::services::RecoverInterruptedInstall(vantorix::launcher::Installation::OfThisProgram().Folder())) {
        case InstallRecovery::RolledBack: vantorix::win::diag::Record(L"launcher start", L"an interrupted update was rolled back"); break;
        case InstallRecovery::Failed: vantorix::win::diag::Record(L"launcher start", L"an interrupted update could not be settled yet"); break;
        case InstallRecovery::Busy: vantorix::win::diag::Record(L"launcher start", L"another launcher is installing: left alone"); break;
        default: break;
        }
        const bool update_mode = arguments && std::wstring(arguments) == vantorix::update_flow::kUpdateArgument;
        vantorix::launcher::UpdateForm form(instance);
        form.Load(update_mode);
        MSG message;
        while (form.Window() && GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    } catch (...) {
        return 1;
    }
    return 0;
}
