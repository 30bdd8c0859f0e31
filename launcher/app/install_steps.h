#pragma once
// The elevated steps' entry points (the command lines and exit codes: common/update_flow/install_step.h).
// Each runs without a window and returns its exit code; the installation is the program's own folder.
// The maintenance service (maintenance_service.h) runs the same install through RunInstallRequest.
#include <optional>
#include <string>
#include <vector>

namespace vantorix::launcher {

// arguments: the command line after the program's name, as CommandLineToArgvW splits it.
int RunInstallUpdateStep(const std::vector<std::wstring>& arguments);
int RunRegisterStep(const std::vector<std::wstring>& arguments);
int RunRecoverStep(const std::vector<std::wstring>& arguments);

// "-install-update" <package> <manifest> ["-delta"], each path a plain local one: what the step and the
// service accept from the user's side.
struct InstallUpdateArguments {
    std::wstring package;   // the archive, or the delta package
    std::wstring manifest;  // the file holding the manifest's exact bytes
    bool delta = false;
};
std::optional<InstallUpdateArguments> ParseInstallUpdateArguments(const std::vector<std::wstring>& arguments);

// The manifest file's bytes: one plain file (no link, no device), at most 1 MiB; nullopt otherwise.
std::optional<std::string> ReadManifestFile(const std::wstring& path);

// The install itself, for the elevated step and the service alike: the manifest judged against this
// installation's state, the package copied into the installation's "\update\" and checked there, unpacked
// (or applied) and committed under the journal, the serial recorded, the engine and control library put
// into the system folder and registered when the package carried them. Returns the step's exit code and
// logs it; the installation is the folder of this program.
int RunInstallRequest(const std::wstring& package, const std::string& manifest_bytes, bool delta);

// A path the steps accept from the user's side: absolute, on a drive ("C:\..."), already in its full form
// (no "." or ".." parts, no device or "\\?\" prefix, no network share), naming no folder.
bool IsPlainLocalPath(const std::wstring& path);

}  // namespace vantorix::launcher
