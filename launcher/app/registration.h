#pragma once
// The web view control library must lie in the system folder the launcher tests; when it is missing, the
// installation's own script "\Build\注册控件.bat" copies it there and registers it.
#include <string>

#include "launcher/app/installation.h"
#include "win/unique_handle.h"

namespace vantorix::launcher {

// SystemRoot + "\Syswow64\Velview_G_201.ocx" for a 32-bit launcher on 64-bit Windows, else
// SystemRoot + "\System32\Velview_G_201.ocx".
std::wstring ControlFilePath();

class Registration {
public:
    explicit Registration(const Installation& installation) : installation_(installation) {}
    bool ControlFileExists() const;
    // Starts the script hidden, without waiting.
    void Start();
    // True while the script started last is still at work, for at most a minute: a script that hangs
    // must not keep the hidden launcher waiting for ever.
    bool Running() const;

private:
    const Installation& installation_;
    win::unique_kernel_handle script_;
    unsigned long long started_ms_ = 0;
};

}  // namespace vantorix::launcher
