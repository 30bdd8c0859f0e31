#pragma once
// The downloader's files on a Windows file system: the data side file written in place, the settings
// side file as ANSI text, and the final rename.
#include "common/download/resumable_download.h"

namespace vantorix::launcher {

class WinFileStore : public download::FileStore {
public:
    bool Exists(const std::wstring& path) override;
    std::optional<std::uint64_t> SizeOf(const std::wstring& path) override;
    std::optional<std::wstring> ReadText(const std::wstring& path) override;
    bool WriteText(const std::wstring& path, const std::wstring& text) override;
    std::unique_ptr<download::DataSink> OpenData(const std::wstring& path) override;
    bool Remove(const std::wstring& path) override;
    bool Rename(const std::wstring& from, const std::wstring& to) override;
};

}  // namespace vantorix::launcher
