#pragma once
// Unpacking a ZIP archive into a folder through minizip's unzip interface. The file system is reached
// through FileSystem, so the same logic runs on Windows, natively in tests, and against fault injectors.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorix::unzip {

// A file being written. Close reports whether every byte reached the disk: it returns only once the data
// is flushed to the device, so a journal written afterwards never promises bytes the cache still holds.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    virtual bool Write(const char* data, size_t size) = 0;
    virtual bool Close() = 0;
};

// A lock on an installation's work folder. Released when destroyed, and by the system when the process
// that holds it ends however it ends, so a killed holder never blocks the next one.
class FolderLock {
public:
    virtual ~FolderLock() = default;
};

// Size and CRC-32 of a file's bytes, as a ZIP entry records them.
struct FileSummary {
    unsigned long long size = 0;
    uint32_t crc = 0;
    bool operator==(const FileSummary& other) const { return size == other.size && crc == other.crc; }
};

// Paths are UTF-8 with "\" as the separator.
//
// Nothing here acts through a link. RemoveTree, RemoveFile and MoveOver treat a symbolic link, a junction
// or any entry that the host resolves to another place as the entry itself: it is removed or moved as a
// link where the host allows that, and otherwise the call fails; what it points at is never recursed
// into, removed or moved.
class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Opens the archive with minizip; returns an unzFile, nullptr when it cannot be opened.
    virtual void* OpenArchive(const std::string& archive) = 0;
    // Turns a stored entry name into UTF-8; utf8_flag is the archive's "name is UTF-8" bit.
    virtual std::string DecodeEntryName(std::string_view raw, bool utf8_flag) = 0;
    virtual bool IsFolder(const std::string& path) = 0;
    virtual bool CreateFolder(const std::string& path) = 0;
    // Creates a new file (the staging folder is fresh: nothing is there to replace); nullptr on failure.
    virtual std::unique_ptr<OutputFile> CreateOutput(const std::string& path) = 0;
    // False when an existing file at path cannot be replaced now (a running program holds it).
    virtual bool CanReplace(const std::string& path) = 0;
    // Moves from over to, replacing an existing file.
    virtual bool MoveOver(const std::string& from, const std::string& to) = 0;
    virtual void RemoveFile(const std::string& path) = 0;

    // What the install's journal and its recovery need.
    virtual bool FileExists(const std::string& path) = 0;
    // Removes an empty folder; false when it is not empty or cannot be removed.
    virtual bool RemoveFolder(const std::string& path) = 0;
    // Removes a folder with everything below it; true when nothing is left.
    virtual bool RemoveTree(const std::string& path) = 0;
    // Replaces the file with a new one holding exactly these bytes (whatever had the name is removed first,
    // a link only as a link) and waits until they are on the disk.
    virtual bool WriteDurably(const std::string& path, std::string_view data) = 0;
    // The whole file, nullopt when it cannot be read.
    virtual std::optional<std::string> ReadWholeFile(const std::string& path) = 0;
    // The key under which the host's file system treats two names as the same (Windows: upper case).
    virtual std::string FoldCase(std::string_view name) = 0;
    // Bytes free for this user on the volume of the folder; nullopt when it cannot be told.
    virtual std::optional<unsigned long long> FreeBytes(const std::string& folder) = 0;

    // A real folder that lies where its path says: not a link or junction, and resolved to its parent's
    // place followed by its own name.
    virtual bool IsOwnFolder(const std::string& path) = 0;
    // Takes the lock file at path (created when missing); nullptr when another process holds it (busy set)
    // or it cannot be taken (busy cleared).
    virtual std::unique_ptr<FolderLock> LockFolder(const std::string& path, bool& busy) = 0;
    // True when the file is the image of the running program: it can be renamed but not replaced or
    // removed until the program ends.
    virtual bool IsRunningProgram(const std::string& path) = 0;
    // True when a commit leaves the running program's new file in the staging folder for the program's
    // staged copy to put in place (see install_commit.h); false when the commit moves the running file
    // aside into the rollback folder and the new one into its place like any other file (the launcher's
    // elevated steps, which start no program).
    virtual bool DefersRunningProgram() { return true; }
    // Size and CRC-32 of the file; nullopt when it cannot be read.
    virtual std::optional<FileSummary> Summarize(const std::string& path) = 0;
};

// The outcome of an unpack, from the extractor up to the launcher's install (one type all the way).
enum class Status {
    Ok,                  // every entry written; the folder holds exactly the archive's files over the old ones
    NotAnArchive,        // missing, unreadable or not a ZIP file: nothing written
    EmptyArchive,        // a ZIP file without entries: nothing written
    UnsafeName,          // an entry would land outside the folder or on a device: nothing written
    DamagedEntry,        // bad CRC, read error or truncated data: nothing written
    CannotCreateFolder,  // a folder level could not be made: no file replaced
    CannotWriteFile,     // a file could not be written, or a target is in use: the folder is as it was
    EncryptedEntry,      // an entry needs a password: nothing written
    NoRoom,              // the unpacked files would not fit on the volume: nothing written
    Busy,                // another process is installing into or recovering the same installation: nothing written
    Untrusted,           // the caller's check of the staged files refused one (see StagedCheck): nothing written
};

struct Result {
    Status status = Status::NotAnArchive;
    std::string entry;  // the entry name or folder the failure is about
    std::string detail; // a short reason
    size_t files_written = 0;
    std::vector<std::string> files;     // committed, relative to the installation ("bin\\node.dll")
    std::vector<std::string> deferred;  // of those, put in place only once the running program has ended
};

const char* StatusText(Status status);
// A failed result about an entry or path.
Result Failure(Status status, std::string entry, std::string detail);

// Creates every missing level of the folder path, level by level; the normalised path with a trailing
// "\", or nullopt when a level cannot be created.
std::optional<std::string> MakePath(FileSystem& fs, std::string_view path);

struct InstallPaths;
struct CommitFile;

// A staged file the caller's check refused, and why.
struct StagedRefusal {
    std::string file;  // relative to the installation ("bin\\client.exe")
    std::string why;
};
// Judges the staged files (they lie below stage_folder under their relative names) after staging and
// before anything is committed: a refusal ends the install with Status::Untrusted, nothing written. An
// empty check accepts everything.
using StagedCheck =
    std::function<std::optional<StagedRefusal>(const std::string& stage_folder, const std::vector<CommitFile>& staged)>;

// Unpacks every entry of the archive into the folder, all or nothing. The central directory is checked
// first (names safe and distinct as the file system compares them, no encrypted entry, sizes bounded);
// then every entry is decompressed once into a fresh staging folder below the work folder, its CRC and
// size checked and its data flushed; then the install is committed (see install_commit.h): the replaced
// files go to a rollback folder, the new ones are moved in, the client executable last, under a journal.
// Any failure leaves the folder exactly as it was. The work folder defaults to the folder's "update\";
// entries inside it are refused. The whole run holds the work folder's install lock.
// Called after every staged block with the bytes unpacked so far and the archive's unpacked total: the
// caller may show it and let its window's messages run.
using UnpackProgress = std::function<void(unsigned long long done, unsigned long long total)>;

// The uncompressed total must fit in the folder's volume's free space (and within kMaxUnpackedTotal),
// else nothing is written (NoRoom).
Result UnzipToFolder(FileSystem& fs, std::string_view folder, const std::string& archive,
                     std::string_view work_folder = {}, const UnpackProgress& progress = {});

// The same over an archive the caller has opened (an unzFile, closed here) while it holds the install
// lock of paths.work (LockInstall): the caller keeps the archive's file from being changed meanwhile.
Result UnzipOpenedArchive(FileSystem& fs, const InstallPaths& paths, void* archive, const UnpackProgress& progress = {},
                          const StagedCheck& check = {});

// The install lock of a work folder ("install.lock" in it): one process at a time commits or recovers an
// installation. nullptr when another process holds it (busy) or it cannot be taken.
std::unique_ptr<FolderLock> LockInstall(FileSystem& fs, const std::string& work_folder, bool& busy);

// The two ends every install shares, for a caller that holds the install lock and stages files itself
// (a delta package): PrepareStaging checks that the work folder is the installation's own, settles what
// an earlier run left and makes the staging folder fresh (a failure when any of it cannot be done);
// CommitStaged plans and commits the staged files (each with its summary) and removes the staging
// folder again when the commit failed and restored the old tree. A check, when given, judges the staged
// files first (Status::Untrusted and nothing written when it refuses one).
std::optional<Result> PrepareStaging(FileSystem& fs, const InstallPaths& paths);
Result CommitStaged(FileSystem& fs, const InstallPaths& paths, const std::vector<CommitFile>& staged,
                    const std::vector<std::string>& folders = {}, const StagedCheck& check = {});

// The read size of the unpacking loop.
inline constexpr size_t kReadBlock = 2048;
// The installation's own work folder below its folder, and the staging folder below that.
inline constexpr std::string_view kWorkFolder = "update\\";
inline constexpr std::string_view kStageFolder = "stage\\";
// The install lock's file in the work folder.
inline constexpr std::string_view kLockFile = "install.lock";
// Bound on the uncompressed total of one archive, against archives that unpack to absurd sizes.
inline constexpr unsigned long long kMaxUnpackedTotal = 4ull << 30;

}  // namespace vantorix::unzip
