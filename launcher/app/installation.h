#pragma once
// The launcher's own installation folder, the files it writes there, and its per-user folder for what it
// cannot write there: the first-run marker and (see update_place.h) the update download.
#include <string>

namespace vantorix::launcher {

class Installation {
public:
    // The folder of the running VantorixAssist.exe, without a trailing backslash but at a drive root ("C:\\").
    static Installation OfThisProgram();
    explicit Installation(std::wstring folder) : folder_(std::move(folder)) {}

    const std::wstring& Folder() const { return folder_; }
    // Folder joined with an installation-relative path that begins with "\".
    std::wstring Path(const std::wstring& relative) const;
    bool Exists(const std::wstring& relative) const;

    // "%LOCALAPPDATA%\VantorixAssist\<installation id>" (the id: services::InstallationId); "" when the
    // system names no such folder.
    std::wstring PerUserFolder() const;

    // "\Build\installock.txt" holding "创建文件" and a line break in the ANSI code page; "\Build" is
    // created when missing. Where the installation cannot be written (a standard user), the same file in
    // the per-user folder marks this user's first start instead. False when neither could be written.
    bool CreateMarker() const;
    // The marker in the installation or in the per-user folder.
    bool MarkerExists() const;
    // "\update", created when missing.
    void EnsureUpdateFolder() const;

private:
    std::wstring folder_;
};

}  // namespace vantorix::launcher
