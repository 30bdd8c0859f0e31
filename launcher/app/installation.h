#pragma once
// The launcher's own installation folder and the files it writes there: the first-run marker, the
// update folder and the update archive with the downloader's side files.
#include <string>

namespace vantorix::launcher {

class Installation {
public:
    // The folder of the running VantorixAssist.exe, without a trailing backslash.
    static Installation OfThisProgram();
    explicit Installation(std::wstring folder) : folder_(std::move(folder)) {}

    const std::wstring& Folder() const { return folder_; }
    // Folder joined with an installation-relative path that begins with "\".
    std::wstring Path(const std::wstring& relative) const { return folder_ + relative; }
    bool Exists(const std::wstring& relative) const;

    // "\Build\installock.txt" holding "创建文件" and a line break in the ANSI code page; "\Build" is
    // created when missing. False when the file could not be written.
    bool CreateMarker() const;
    // "\update", created when missing.
    void EnsureUpdateFolder() const;
    // Removes "\update\newtemp.zip", and its side files unless they hold a download of `url` that the
    // downloader can resume.
    void ClearStaleArchive(const std::wstring& url) const;
    // Removes "\update\newtemp.zip" and the downloader's side files of that name.
    void DeleteArchive() const;

private:
    std::wstring folder_;
};

// The text of a downloader settings side file (ANSI), with blanks around it removed; "" when unreadable.
std::wstring ReadSideFileUrl(const std::wstring& path);

}  // namespace vantorix::launcher
