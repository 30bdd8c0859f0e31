#pragma once
// The elevated steps' entry points (the command lines and exit codes: common/update_flow/install_step.h).
// Each runs without a window, starts no program and returns its exit code. The installation is the
// program's own folder, and only when it is the one the setup registered and only the administrators can
// change it (launcher/app/protected_installation.h); otherwise nothing is done (InstallationRefused).
// The maintenance service (maintenance_service.h) runs the same install through RunInstallRequest.
#include <optional>
#include <string>
#include <vector>

namespace vantorix::launcher {

// arguments: the command line after the program's name, as CommandLineToArgvW splits it, beginning with
// update_flow::kInstallUpdateArgument, kRegisterArgument or kRecoverArgument; image_folder: the folder of
// this program's file. Checks the installation, opens its install.log and runs the step; the exit code.
int RunStep(const std::vector<std::wstring>& arguments, const std::wstring& image_folder);

// The installation a step or the service runs for: the folder of its image when the setup registered it and
// only the administrators can change it (launcher/app/protected_installation.h), as its handle resolves;
// "" when refused. Opens the install.log of an installation it may write and logs why it refused.
std::wstring AcceptedInstallation(const std::wstring& image_folder);

// The steps themselves, on an accepted installation folder.
int RunInstallUpdateStep(const std::vector<std::wstring>& arguments, const std::wstring& folder);
int RunRegisterStep(const std::vector<std::wstring>& arguments, const std::wstring& folder);
int RunRecoverStep(const std::vector<std::wstring>& arguments, const std::wstring& folder);

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

// The install itself, for the elevated step and the service alike, on an accepted installation folder: the
// manifest judged against the installation's own state, the serial recorded, the package copied into the
// installation's "\update\" and checked there, unpacked (or applied) and committed under the journal, the
// engine and control library put into the system folder and registered when the package carried them.
// Returns the step's exit code and logs it.
int RunInstallRequest(const std::wstring& package, const std::string& manifest_bytes, bool delta, const std::wstring& folder);

// A path the steps accept from the user's side: absolute, on a drive ("C:\..."), already in its full form
// (no "." or ".." parts, no device or "\\?\" prefix, no network share), naming no folder.
bool IsPlainLocalPath(const std::wstring& path);

}  // namespace vantorix::launcher
