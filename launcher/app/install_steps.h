#pragma once
// The elevated steps' entry points (the command lines and exit codes: common/update_flow/install_step.h).
// Each runs without a window and returns its exit code; the installation is the program's own folder.
#include <string>
#include <vector>

namespace vantorix::launcher {

// arguments: the command line after the program's name, as CommandLineToArgvW splits it.
int RunInstallUpdateStep(const std::vector<std::wstring>& arguments);
int RunRegisterStep(const std::vector<std::wstring>& arguments);
int RunRecoverStep(const std::vector<std::wstring>& arguments);

// A path the steps accept from the user's side: absolute, on a drive ("C:\..."), already in its full form
// (no "." or ".." parts, no device or "\\?\" prefix, no network share), naming no folder.
bool IsPlainLocalPath(const std::wstring& path);

}  // namespace vantorix::launcher
