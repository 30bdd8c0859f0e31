#include "launcher/app/client_start.h"

#include <windows.h>
#include <shellapi.h>

#include "common/update_flow/update_flow.h"
#include "launcher/app/client_processes.h"
#include "win/process.h"

namespace vantorix::launcher {

bool StartClient(const Installation& installation) {
    // The client's folder is its working folder, as when the user starts it from there.
    return win::StartProgram(installation.Path(update_flow::kClientPath), {update_flow::kClientToken}, SW_SHOWMINIMIZED,
                      installation.Path(L"\\bin"));
}

namespace {
// A client asked to close gets a few seconds to save its state; its files are replaced only once it is gone.
constexpr DWORD kClientCloseGraceMs = 3000;
constexpr DWORD kClientEndWaitMs = 5000;
}  // namespace

bool EndRunningClients(const Installation& installation) {
    return EndProcessesOfImage(installation.Path(update_flow::kClientPath), kClientCloseGraceMs, kClientEndWaitMs);
}

void OpenHomePage() { ShellExecuteW(nullptr, L"open", kHomePageUrl, nullptr, nullptr, SW_SHOWNORMAL); }

}  // namespace vantorix::launcher
