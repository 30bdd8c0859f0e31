#pragma once
// One running program of a kind per installation and user (the client, the launcher). The first program
// started from a folder makes a small named section that holds its main window; a later start from the
// same folder finds that window, asks it to come forward and ends. The section belongs to the running
// processes: when they end in any way (also when the launcher kills the client before an update), the
// system drops it and the next start is a first one.
//
// The name is the user's and the session's ("Local\<kind>.<user SID>.<session>.<folder hash>"),
// and the section is made with a security descriptor that gives it to the user alone at the client's
// integrity level. Any program of the session may still make that name first; so a start trusts an
// existing section only when it is the user's own at no lower level, and hands over only to a window of
// this installation's program that answers as a running one. Otherwise it starts all the same: a section
// of the user's own it takes over (later starts come to it). Where the name cannot serve (another
// account's section, one closed to the user, another kind of object such as a mutex), starts find the
// running program by its main window among the session's windows instead: one of this installation's
// program, in another process, that answers as the running one.
#include <windows.h>

#include <string>

#include "win/unique_handle.h"

namespace vantorix::win {

class InstanceClaim {
public:
    // Posted to the running program's main window by a later start: come forward (the WPARAM is the
    // later start's request, see HandOver).
    static constexpr UINT kBringBackMessage = WM_APP + 19;
    // Sent by a later start to the window it found; a client that holds the claim answers kClaimAnswer.
    static constexpr UINT kClaimQuery = WM_APP + 20;
    static constexpr LRESULT kClaimAnswer = 0x56434C54;  // "VCLT"
    // How long a later start waits for the running client to make its window known and answer.
    static constexpr DWORD kHandOverWaitMs = 15000;

    // Claims the installation of `app_folder` (compared without regard to case) for the program `kind`
    // ("VantorixClient", "VantorixAssist"); `window_class` is the class of its main window, the only kind
    // of window a later start hands over to.
    InstanceClaim(const wchar_t* kind, const std::wstring& app_folder, const wchar_t* window_class);
    InstanceClaim(const InstanceClaim&) = delete;
    InstanceClaim& operator=(const InstanceClaim&) = delete;

    // This start holds the claim: it made the section, took over one that no client of ours answers for, or
    // (where the name cannot serve) found no running program by its window.
    bool claimed() const { return claimed_; }
    // A start that found the section, or (where the name cannot serve) a running client's window: brings the
    // running client forward and returns true (this start then ends). False when there is nothing to hand
    // over to: this start made the section, no client of ours answered within kHandOverWaitMs, or no window
    // of a running client answers (then this start holds the claim).
    // `request` travels with kBringBackMessage as its WPARAM.
    bool HandOver(WPARAM request = 0);
    // The client that holds the claim makes its main window known.
    void Publish(HWND main_window);

    // The section's name for a kind of program and a folder: one per installation, user and session, the
    // same for every spelling of the folder's case. "" when the user cannot be told.
    static std::wstring ObjectName(const wchar_t* kind, const std::wstring& app_folder);

private:
    HWND PublishedWindow() const;
    // A window of this installation's program, in another process, of the main window's class.
    bool IsRunningClient(HWND window) const;
    bool BringBack(HWND running, WPARAM request) const;
    bool HandOverByWindow(WPARAM request);

    std::wstring window_class_;
    win::unique_kernel_handle section_;
    win::unique_mapped_view view_;
    bool claimed_ = false;
    bool contested_ = false;  // the section is the user's own and was there before this start
    bool by_window_ = false;  // the name cannot serve: running programs are found by their window
};

}  // namespace vantorix::win
