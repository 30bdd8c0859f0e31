#pragma once
// The extractor's file system over the wide Win32 file API (paths UTF-8 with "\\" separators).
//
// Nothing is done through a link. Every entry that is removed or moved is opened first without following
// a reparse point (FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS), its attributes are read
// from that handle, and it must resolve to its parent's resolved path followed by its own name; the
// removal or rename then goes through that same handle. A symbolic link or junction that Windows opens as
// itself is removed or moved as a link. An entry that resolves elsewhere although the handle shows no
// reparse point is left alone and the call fails: Wine 8 resolves a Unix symbolic link at every open
// (even with FILE_FLAG_OPEN_REPARSE_POINT), so removing "it" would remove what it points at.
#include "common/unzip/extract.h"

namespace vantorix::services {

class Win32FileSystem : public unzip::FileSystem {
public:
    void* OpenArchive(const std::string& archive) override;
    std::string DecodeEntryName(std::string_view raw, bool utf8_flag) override;
    bool IsFolder(const std::string& path) override;
    bool CreateFolder(const std::string& path) override;
    // A new file (never one that exists, nor through a link); its Close flushes it to the disk.
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
    bool IsOwnFolder(const std::string& path) override;
    // The file opened for reading and writing without sharing: another process's open fails with a
    // sharing violation until the holder lets go or ends; the holder removes the file as it lets go.
    std::unique_ptr<unzip::FolderLock> LockFolder(const std::string& path, bool& busy) override;
    // The system's error of the last lock this object could not take (0: none failed).
    unsigned long LastLockError() const { return last_lock_error_; }
    bool IsRunningProgram(const std::string& path) override;
    // False in an elevated step (services::IsElevatedStep): it starts no program to finish the commit.
    bool DefersRunningProgram() override;
    std::optional<unzip::FileSummary> Summarize(const std::string& path) override;

    // minizip over a file the caller holds open (a HANDLE): reads go through that handle, which the
    // archive's unzClose leaves open. nullptr when the file is not a ZIP archive.
    static void* OpenArchiveOver(void* file);
    // True when the open file (a HANDLE) is the one at path: it resolves to the resolved folder of path
    // followed by path's own name, so no link led to it.
    static bool IsFileAt(void* file, const std::string& path);

private:
    unsigned long last_lock_error_ = 0;
};

}  // namespace vantorix::services
