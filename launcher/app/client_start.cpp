#include "launcher/app/client_start.h"

#include <windows.h>
#include <shellapi.h>

#include "common/update_flow/update_flow.h"
#include "win/process.h"

namespace vantorix::launcher {

void StartClient(const Installation& installation) {
    // The client's folder is its working folder, as when the user starts it from there.
    win::StartProgram(installation.Path(update_flow::kClientPath), {update_flow::kClientToken}, SW_SHOWMINIMIZED,
                      installation.Path(L"\\bin"));
}

void EndRunningClients() { win::StartProgram(L"cmd", {L"/c", L"taskkill", L"/f", L"/im", L"client.exe"}, SW_HIDE); }

void OpenHomePage() { ShellExecuteW(nullptr, L"open", kHomePageUrl, nullptr, nullptr, SW_SHOWNORMAL); }

}  // namespace vantorix::launcher
