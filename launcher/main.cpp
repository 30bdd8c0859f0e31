// VantorixAssist.exe: the launcher and updater. Its one form drives everything; closing the form ends it.
#include <windows.h>

#include <string>

#include "common/update_flow/update_flow.h"
#include "launcher/app/installation.h"
#include "launcher/app/update_form.h"
#include "launcher/services/services.h"
#include "win/diagnostic_log.h"
#include "win/system_libraries.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int) {
    vantorix::win::LoadSystemLibrariesFromSystemFolderOnly();
    try {
        // Every update decision and failure goes to the user's log, with its reason.
        vantorix::win::diag::OpenLog(vantorix::win::diag::PerUserLogPath(L"launcher.log"));
        // The argument text as a whole, case-sensitive: only "-update" opens the form at once.
        // An update cut short by a kill is settled (rolled back, or its clean-up finished) before anything
        // reads the installation.
        vantorix::services::RecoverInterruptedInstall(vantorix::launcher::Installation::OfThisProgram().Folder());
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
