#pragma once
// Where this run downloads an update, and who installs it. The launcher tries to create (and delete) a
// file in the installation's "\update\" folder, once per run, when it first needs to know:
//   - it can: the download goes to "\update\newtemp.zip" and the launcher installs it itself;
//   - it may not (a standard user, or an administrator under UAC, in "Program Files"): the download goes
//     to the per-user folder "%LOCALAPPDATA%\VantorixAssist\<installation id>\update\newtemp.zip" and the
//     elevated step "-install-update" installs it (common/update_flow/install_step.h);
//   - the folder is missing: the download goes where it always went and ends with "保存路径出错" (state
//     10), as before; "-update" never creates that folder.
// The downloader's side files (".dl", ".dl.cfg", ".dl.tag") live beside the archive either way.
#include <string>

#include "launcher/app/installation.h"

namespace vantorix::launcher {

class UpdatePlace {
public:
    // Decides by the probe described above.
    static UpdatePlace For(const Installation& installation);
    UpdatePlace(std::wstring folder, bool elevated_install)
        : folder_(std::move(folder)), elevated_install_(elevated_install) {}

    // The installation cannot be written by this process: the elevated step installs.
    bool ElevatedInstall() const { return elevated_install_; }
    const std::wstring& Folder() const { return folder_; }
    std::wstring Archive() const { return folder_ + L"\\newtemp.zip"; }
    // A delta package, downloaded beside the archive under its own name (same side files).
    std::wstring Delta() const { return folder_ + L"\\newtemp.delta.zip"; }
    // The manifest's bytes as fetched, handed to the elevated step beside the archive.
    std::wstring ManifestCopy() const { return folder_ + L"\\newtemp.json"; }

    // Creates the folder when it is the per-user one (the installation's is never created here).
    bool Prepare() const;
    // Removes the archive (with delta: the delta package), and its side files unless they hold a download
    // of `url` that the downloader can resume.
    void ClearStaleArchive(const std::wstring& url, bool delta = false) const;
    // Removes the archive and the delta package, the downloader's side files of both and the manifest copy.
    void DeleteArchive() const;
    // Removes the delta package and its side files only (the full archive follows).
    void DeleteDelta() const;

private:
    std::wstring folder_;
    bool elevated_install_ = false;
};

// The text of a downloader settings side file (ANSI), with blanks around it removed; "" when unreadable.
std::wstring ReadSideFileUrl(const std::wstring& path);

// The outcome of trying to create a file in the folder: writable, not writable, or no such folder.
enum class FolderAccess { Writable, Denied, Missing };
FolderAccess ProbeFolder(const std::wstring& folder);

}  // namespace vantorix::launcher
