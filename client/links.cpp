#include "client/links.h"

#include <shellapi.h>

#include "client/app_paths.h"
#include "client/maker_links.h"
#include "win/process.h"

namespace vantorix::client {

void OpenLink(const std::wstring& address) {
    ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::optional<std::wstring> LauncherFolderFor(const std::wstring& app_folder) {
    // Scan from the last character towards the first for the backslash that ends the parent.
    std::size_t at = app_folder.size();
    while (at > 0 && app_folder[at - 1] != L'\\') --at;
    if (at == 0) return std::nullopt;
    if (app_folder.size() == 3) return std::nullopt;  // a drive root has no parent to look in
    return app_folder.substr(0, at - 1);
}

void StartLauncherForUpdate(const std::wstring& app_folder, HWND owner) {
    auto parent = LauncherFolderFor(app_folder);
    if (!parent) return;
    const std::wstring launcher = *parent + kLauncherFile;
    if (IsNormalFile(launcher)) {
        // The program path is quoted, so a folder with a blank ("C:\Program Files (x86)\...") cannot make the
        // system run another program such as "C:\Program.exe".
        win::StartProgram(launcher, {L"-update"}, SW_SHOWMINIMIZED);
        return;
    }
    if (MessageBoxW(owner, kLauncherMissingQuestion, maker::kProgramTitle, MB_YESNO) == IDYES) OpenLink(maker::kHomePage);
}

}  // namespace vantorix::client
