#pragma once
// The web view control library in the system folder: where the launcher looks for it, whether its classes
// are registered there, and putting it (with the engine it loads from its own folder) there from the
// installation: at the first start, and after an update that carries a new library or engine. Writing the
// system folder and the machine's classes needs an administrator: the elevated step "-register", or an
// elevated "-install-update", calls InstallControlLibrary; a launcher that may write there calls it itself.
#include <string>

#include "common/update_flow/install_step.h"

namespace vantorix::launcher {

inline constexpr wchar_t kControlInInstallation[] = L"\\Build\\Velview_G_201.ocx";
inline constexpr wchar_t kEngineInInstallation[] = L"\\bin\\node.dll";

// The folder of the system's 32-bit libraries, from the system (never from the environment):
// GetSystemWow64Directory for a 32-bit program on 64-bit Windows, else GetSystemDirectory.
std::wstring SystemLibraryFolder();
// That folder + "\Velview_G_201.ocx".
std::wstring ControlFilePath();

// True when every class of the control library is registered with `file` as its in-process server.
bool ControlClassesRegisteredAt(const std::wstring& file);

struct LibraryInstall {
    update_flow::StepExit exit = update_flow::StepExit::Done;  // Done, or ComponentsFailed
    std::wstring what;          // the step that failed, for the log
    unsigned long code = 0;     // its system error or HRESULT
};

// Copies the installation's engine (when it has one) and control library into the system folder, each
// replacing the one there (a file in use, loaded by another user's client, is moved aside and removed at
// the next restart), then registers the library there as regsvr32 would. A library that does not register
// is removed again, so the launcher asks at its next start.
LibraryInstall InstallControlLibrary(const std::wstring& installation_folder);

}  // namespace vantorix::launcher
