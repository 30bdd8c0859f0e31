#pragma once
// The web view control library must lie in the system folder the launcher tests and be registered there;
// when it is not, the installation's own script "\Build\注册控件.bat" copies it there and registers it.
// Writing to the system folder and to the machine's classes needs an administrator: a launcher that runs
// without elevation starts the script with the shell's "runas" verb, which asks the user.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "common/update_flow/update_flow.h"
#include "launcher/app/installation.h"
#include "win/unique_handle.h"

namespace vantorix::launcher {

// SystemRoot + "\Syswow64\Velview_G_201.ocx" for a 32-bit launcher on 64-bit Windows, else
// SystemRoot + "\System32\Velview_G_201.ocx".
std::wstring ControlFilePath();

// True when every class of the control library is registered with `file` as its in-process server.
bool ControlClassesRegisteredAt(const std::wstring& file);

// True when this process runs with an administrator's full rights (or on a system without UAC).
bool ProcessIsElevated();

// What the registration asks of the system to start its script; tests put recorders in its place.
struct ScriptStarter {
    bool (*is_elevated)() = &ProcessIsElevated;
    BOOL(WINAPI* shell_execute)(SHELLEXECUTEINFOW*) = &ShellExecuteExW;
};

class Registration {
public:
    explicit Registration(const Installation& installation, ScriptStarter starter = {})
        : installation_(installation), starter_(starter) {}
    // The file is in the system folder and the library's classes point at it.
    bool ControlInstalled() const;
    // Starts the script hidden, without waiting; elevated through "runas" when this process is not.
    update_flow::RegistrationStart Start();
    // True while the script started last is still at work, for at most a minute: a script that hangs
    // must not keep the hidden launcher waiting for ever.
    bool Running() const;

private:
    const Installation& installation_;
    ScriptStarter starter_;
    win::unique_kernel_handle script_;
    unsigned long long started_ms_ = 0;
};

}  // namespace vantorix::launcher
