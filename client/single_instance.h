#pragma once
// One client per installation. The first client started from a folder claims a small named section that
// holds its main window; a later start from the same folder finds that window, asks it to come forward
// and ends. The section belongs to the running process: when it ends in any way (also when the launcher
// kills it before an update), the system drops the section and the next start is a first one again.
#include <windows.h>

#include <string>

#include "win/unique_handle.h"

namespace vantorix::client {

class InstanceClaim {
public:
    // Posted to the running client's main window by a later start: come forward.
    static constexpr UINT kBringBackMessage = WM_APP + 19;

    // Claims the installation of `app_folder` (compared without regard to case).
    explicit InstanceClaim(const std::wstring& app_folder);
    InstanceClaim(const InstanceClaim&) = delete;
    InstanceClaim& operator=(const InstanceClaim&) = delete;

    // True when no other client of this installation runs.
    bool first() const { return first_; }
    // The first client makes its main window known.
    void Publish(HWND main_window);
    // A later start: lets the running client's main window come forward. Nothing when that window is not
    // made known within a short wait (the running client is still checking its installation, or ending).
    void HandOver() const;

    // The section's name for a folder: one per installation, the same for every spelling of its case.
    static std::wstring ObjectName(const std::wstring& app_folder);

private:
    win::unique_kernel_handle section_;
    win::unique_mapped_view view_;
    bool first_ = true;
};

}  // namespace vantorix::client
