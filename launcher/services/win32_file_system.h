#pragma once
// The extractor's file system over the wide Win32 file API (paths UTF-8 with "\\" separators).
#include "common/unzip/extract.h"

namespace vantorix::services {

class Win32FileSystem : public unzip::FileSystem {
public:
    void* OpenArchive(const std::string& archive) override;
    std::string DecodeEntryName(std::string_view raw, bool utf8_flag) override;
    bool IsFolder(const std::string& path) override;
    bool CreateFolder(const std::string& path) override;
    std::unique_ptr<unzip::OutputFile> CreateOutput(const std::string& path) override;
    bool CanReplace(const std::string& path) override;
    bool MoveOver(const std::string& from, const std::string& to) override;
    void RemoveFile(const std::string& path) override;
    bool FileExists(const std::string& path) override;
    bool RemoveFolder(const std::string& path) override;
    bool RemoveTree(const std::string& path) override;
    bool WriteDurably(const std::string& path, std::string_view data) override;
    std::optional<std::string> ReadWholeFile(const std::string& path) override;
    std::string FoldCase(std::string_view name) override;
    std::optional<unsigned long long> FreeBytes(const std::string& folder) override;
};

}  // namespace vantorix::services
