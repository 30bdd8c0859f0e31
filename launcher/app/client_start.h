#pragma once
// The programs the launcher starts besides the registration script: the client with its launch token,
// the command that ends running clients before their files are replaced, and the maker's home page.
#include "launcher/app/installation.h"

namespace vantorix::launcher {

// The maker's site, opened when the installation is broken.
inline constexpr wchar_t kHomePageUrl[] = L"https://www.vantorix.com/";

// "\bin\client.exe -2018.06.21", minimised with focus, not waited for.
void StartClient(const Installation& installation);
// "cmd /c taskkill /f /im client.exe", hidden, not waited for.
void EndRunningClients();
// The home page with the shell's "open" verb, in a normal window.
void OpenHomePage();

}  // namespace vantorix::launcher
