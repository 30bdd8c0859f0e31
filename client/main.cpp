// client.exe: the client shell. Started by the launcher with the launch token; shows the skin page in a
// borderless window with a tray icon, and ends only through the shutdown routine.
#include <windows.h>
#include <objbase.h>

#include "client/app_paths.h"
#include "client/engine_com.h"
#include "client/links.h"
#include "client/main_form.h"
#include "client/maker_links.h"
#include "client/muen_frm.h"
#include "client/overme.h"
#include "client/windowdc.h"
#include "win/diagnostic_log.h"
#include "win/system_libraries.h"

using namespace vantorix::client;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show_command) {
    vantorix::win::LoadSystemLibrariesFromSystemFolderOnly();
    CoInitialize(nullptr);  // single-threaded apartment: the control library's objects live on this thread
    vantorix::win::diag::OpenLog(vantorix::win::diag::PerUserLogPath(L"client.log"));
    const std::wstring app_folder = ApplicationFolder();

    // Everything the client creates lives until the shutdown routine ends the process.
    static MuenFrm menu(MuenFrm::Actions{
        [] { OpenLink(maker::kHomePage); },
        [] { OpenLink(maker::kFeedbackPage); },
        [app_folder] { StartLauncherForUpdate(app_folder); },
        [] { overme::Shutdown(); },
    });
    static MainForm* main_form = nullptr;
    static Windowdc* picker = nullptr;
    main_form = new MainForm(MainForm::Parts{&CreateMiniblinkApi, &CreateMiniblinkCallBack, &menu, nullptr, app_folder, true});
    if (!main_form->Create()) return 1;
    picker = new Windowdc(main_form->window());
    main_form->set_picker(picker);  // the picker takes the main window's icon, so it comes second
    overme::SetParts({
        [] { main_form->tray().Hide(); },
        [] { main_form->Destroy(); },
        [] { menu.Close(); },
        [] { picker->Close(); },
    });
    main_form->Load(ArgumentText(GetCommandLineW()));
    main_form->Show(show_command);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (picker->HandleDialogKey(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    overme::Shutdown();
}
