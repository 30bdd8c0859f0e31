#pragma once
// Installing what the update form downloaded: the user's copy checked, then installed in this process
// (an installation the user may write), through the installation's maintenance service, or through the
// elevated step; a new engine and control library put where the client loads them. The form (the window)
// shows the progress and owns the prompts; the flow decides what comes next (update_flow.h).
#include <windows.h>

#include <optional>
#include <string>

#include "common/integrity/expected_archive.h"
#include "common/update_flow/update_flow.h"
#include "launcher/app/installation.h"
#include "launcher/app/update_install.h"
#include "launcher/app/update_place.h"
#include "win/message_pump.h"

namespace vantorix::launcher {

// What the installer asks of the window it works for.
class InstallWindow {
public:
    virtual ~InstallWindow() = default;
    virtual void ShowProgress(double fraction) = 0;  // 0..1
    virtual HWND PromptOwner() = 0;                  // the owner of a UAC prompt
};

class UpdateInstaller {
public:
    UpdateInstaller(const Installation& installation, InstallWindow& window);
    UpdateInstaller(const UpdateInstaller&) = delete;
    UpdateInstaller& operator=(const UpdateInstaller&) = delete;

    // Where this run downloads, decided the first time it is needed (update_place.h).
    const UpdatePlace& Place();
    // The manifest as fetched last: the elevated step and the service judge these exact bytes.
    std::string* ManifestBytes() { return &manifest_bytes_; }

    // "" when the user's copy of the archive is what the manifest published (checked here only before the
    // elevated step or the service; an install in this process checks where it installs from); else why not.
    std::wstring ArchiveMismatch(const integrity::ExpectedArchive& expected);
    update_flow::UnpackResult UnpackArchive(const integrity::ExpectedArchive& expected);
    update_flow::UnpackResult ApplyDelta(const integrity::ExpectedArchive& expected);
    void AbandonDelta(const std::wstring& reason);

private:
    update_flow::UnpackResult InstallHere(const integrity::ExpectedArchive& expected);
    // What an install in this process comes to for the flow; the engine and library put in place after it.
    update_flow::UnpackResult Settle(const InstallOutcome& installed);
    update_flow::UnpackResult InstallElevated(const std::wstring& package, bool delta);
    std::wstring PackageMismatch(const std::wstring& package, const integrity::ExpectedArchive& expected);
    void ShowApplyProgress(unsigned long long done, unsigned long long total);
    void PutEngineAndLibraryInPlace();

    const Installation& installation_;
    InstallWindow& window_;
    std::optional<UpdatePlace> place_;
    std::string manifest_bytes_;
    // The maintenance service answered a request of this run: later ones go to it alone, never to a UAC
    // prompt (its answer for the same update would be the same).
    bool service_answered_ = false;
    win::PacedPump apply_pump_;  // the window's messages while an install or a delta reports its blocks
};

}  // namespace vantorix::launcher
