#pragma once
// The extractor's file system on a POSIX host (tests, benchmarks, fuzzing): "\" in paths becomes "/".
// Removing and renaming act on a symbolic link itself, as POSIX does.
#ifndef _WIN32
#include "common/unzip/extract.h"

namespace vantorix::unzip {

class PosixFileSystem : public FileSystem {
public:
    void* OpenArchive(const std::string& archive) override;
    std::string DecodeEntryName(std::string_view raw, bool utf8_flag) override;
    bool IsFolder(const std::string& path) override;
    bool CreateFolder(const std::string& path) override;
    // A new file, never one that exists; its Close flushes it (fsync).
    std::unique_ptr<OutputFile> CreateOutput(const std::string& path) override;
    bool CanReplace(const std::string&) override { return true; }
    bool MoveOver(const std::string& from, const std::string& to) override;
    void RemoveFile(const std::string& path) override;
    bool FileExists(const std::string& path) override;
    bool RemoveFolder(const std::string& path) override;
    bool RemoveTree(const std::string& path) override;
    bool WriteDurably(const std::string& path, std::string_view data) override;
    std::optional<std::string> ReadWholeFile(const std::string& path) override;
    // ASCII letters in upper case, as a stand-in for the Windows comparison.
    std::string FoldCase(std::string_view name) override;
    std::optional<unsigned long long> FreeBytes(const std::string& folder) override;
    bool IsOwnFolder(const std::string& path) override;
    // flock(2) on the file: released when the lock is dropped or the process ends.
    std::unique_ptr<FolderLock> LockFolder(const std::string& path, bool& busy) override;
    bool IsRunningProgram(const std::string&) override { return false; }
    std::optional<FileSummary> Summarize(const std::string& path) override;

    static std::string HostPath(const std::string& path);
};

}  // namespace vantorix::unzip
#endif
