#pragma once
// The web view control library must lie in the system folder the launcher tests and be registered there;
// when it is not, the launcher's own elevated step "VantorixAssist.exe -register" puts it there from the
// installation and registers it (control_library.h). A launcher that runs with an administrator's full
// rights starts that step as it is; any other asks for it with the shell's "runas" verb, whose prompt
// names this program. (The installation's "\Build\注册控件.bat" does the same by hand; the launcher no
// longer runs it.)
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "common/update_flow/update_flow.h"
#include "launcher/app/installation.h"
#include "win/unique_handle.h"

namespace vantorix::launcher {

// True when this process runs with an administrator's full rights (or on a system without UAC).
bool ProcessIsElevated();

// What the registration asks of the system to start its step; tests put recorders in its place.
struct RegistrationStarter {
    bool (*is_elevated)() = &ProcessIsElevated;
    BOOL(WINAPI* shell_execute)(SHELLEXECUTEINFOW*) = &ShellExecuteExW;
};

class Registration {
public:
    explicit Registration(const Installation& installation, RegistrationStarter starter = {})
        : installation_(installation), starter_(starter) {}
    // The file is in the system folder and the library's classes point at it.
    bool ControlInstalled() const;
    // Starts the step hidden, without waiting; elevated through "runas" when this process is not.
    update_flow::RegistrationStart Start();
    // True while the step started last is still at work, for at most a minute: a step that hangs must not
    // keep the hidden launcher waiting for ever.
    bool Running() const;

private:
    const Installation& installation_;
    RegistrationStarter starter_;
    win::unique_kernel_handle step_;
    unsigned long long started_ms_ = 0;
};

}  // namespace vantorix::launcher
