#pragma once
// The elevated steps' entry points (the command lines and exit codes: common/update_flow/install_step.h).
// Each runs without a window, starts no program and returns its exit code. The installation is the
// program's own folder, and only when it is the one the setup registered and only the administrators can
// change it (launcher/app/protected_installation.h); otherwise nothing is done (InstallationRefused).
#include <string>
#include <vector>

namespace vantorix::launcher {

// arguments: the command line after the program's name, as CommandLineToArgvW splits it, beginning with
// update_flow::kInstallUpdateArgument, kRegisterArgument or kRecoverArgument; image_folder: the folder of
// this program's file. Checks the installation, opens its install.log and runs the step; the exit code.
int RunStep(const std::vector<std::wstring>& arguments, const std::wstring& image_folder);

// The steps themselves, on an accepted installation folder.
int RunInstallUpdateStep(const std::vector<std::wstring>& arguments, const std::wstring& folder);
int RunRegisterStep(const std::vector<std::wstring>& arguments, const std::wstring& folder);
int RunRecoverStep(const std::vector<std::wstring>& arguments, const std::wstring& folder);

// A path the steps accept from the user's side: absolute, on a drive ("C:\..."), already in its full form
// (no "." or ".." parts, no device or "\\?\" prefix, no network share), naming no folder.
bool IsPlainLocalPath(const std::wstring& path);

}  // namespace vantorix::launcher
