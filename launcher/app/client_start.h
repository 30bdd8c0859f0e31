#pragma once
// The programs the launcher starts besides the registration script: the client with its launch token,
// the end of running clients before their files are replaced, and the maker's home page.
#include "launcher/app/installation.h"

namespace vantorix::launcher {

// The maker's site, opened when the installation is broken.
inline constexpr wchar_t kHomePageUrl[] = L"https://www.vantorix.com/";

// "\bin\client.exe -2018.06.21", minimised with focus, not waited for. False when it could not be started.
bool StartClient(const Installation& installation);
// Ends this installation's running clients (bin\client.exe by its full path, no other program of that
// name): asked to close first, ended when they do not, waited for. True when none is left running.
bool EndRunningClients(const Installation& installation);
// The home page with the shell's "open" verb, in a normal window.
void OpenHomePage();

}  // namespace vantorix::launcher
