#pragma once
// Unpacking a ZIP archive into a folder through minizip's unzip interface. The file system is reached
// through FileSystem, so the same logic runs on Windows, natively in tests, and against fault injectors.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vantorix::unzip {

// A file being written. Close reports whether every byte reached the disk.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    virtual bool Write(const char* data, size_t size) = 0;
    virtual bool Close() = 0;
};

// Paths are UTF-8 with "\" as the separator.
class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Opens the archive with minizip; returns an unzFile, nullptr when it cannot be opened.
    virtual void* OpenArchive(const std::string& archive) = 0;
    // Turns a stored entry name into UTF-8; utf8_flag is the archive's "name is UTF-8" bit.
    virtual std::string DecodeEntryName(std::string_view raw, bool utf8_flag) = 0;
    virtual bool IsFolder(const std::string& path) = 0;
    virtual bool CreateFolder(const std::string& path) = 0;
    // Creates or truncates a file; nullptr on failure.
    virtual std::unique_ptr<OutputFile> CreateOutput(const std::string& path) = 0;
    // False when an existing file at path cannot be replaced now (a running program holds it).
    virtual bool CanReplace(const std::string& path) = 0;
    // Moves from over to, replacing an existing file.
    virtual bool MoveOver(const std::string& from, const std::string& to) = 0;
    virtual void RemoveFile(const std::string& path) = 0;
};

enum class Status {
    Ok,
    NotAnArchive,
    EmptyArchive,
    UnsafeName,
    DamagedEntry,
    CannotCreateFolder,
    CannotWriteFile,
};

struct Result {
    Status status = Status::NotAnArchive;
    std::string entry;  // the entry name or folder the failure is about
    std::string detail; // a short reason
    size_t files_written = 0;
};

const char* StatusText(Status status);

// Creates every missing level of the folder path, level by level; the normalised path with a trailing
// "\", or nullopt when a level cannot be created.
std::optional<std::string> MakePath(FileSystem& fs, std::string_view path);

// Unpacks every entry of the archive into the folder. Before the first write the whole archive is read:
// every name must be safe, every entry readable to its stored size with a correct CRC; otherwise nothing
// is written. Every file is first written beside its target; only when all of them are written and no
// target is in use are the old files replaced, each by one move. A failure before that point leaves the
// folder's files as they were (sub-folders the archive needed may have been created).
Result UnzipToFolder(FileSystem& fs, std::string_view folder, const std::string& archive);

// The read size of the unpacking loop.
inline constexpr size_t kReadBlock = 2048;
// Suffix of the file an entry is written to before it replaces its target.
inline constexpr std::string_view kPartSuffix = ".vxpart";

}  // namespace vantorix::unzip
