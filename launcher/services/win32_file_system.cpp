// The extractor's file system over the wide Win32 file API: every removal and move goes through a handle
// that was checked not to be (or lead through) a link first.
#include "launcher/services/win32_file_system.h"

#include <windows.h>
#include <unzip.h>
#include <iowin32.h>  // after unzip.h: it relies on ioapi.h's declarations

#include <vector>

#include "common/manifest/utf8_text.h"
#include "common/unzip/paths.h"
#include "launcher/services/services.h"
#include "launcher/services/wide_text.h"
#include "win/code_page.h"
#include "win/diagnostic_log.h"
#include "win/file_exists.h"
#include "win/final_path.h"
#include "win/module_path.h"
#include "win/unique_handle.h"

namespace vantorix::services {
namespace {

using win::unique_hfile;

constexpr DWORD kNoFollow = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
// Others may read and write meanwhile, but not rename or remove what we hold.
constexpr DWORD kShareButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::wstring WithoutTrailingSeparator(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

std::wstring FullPath(const std::wstring& path) {
    DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
    full.resize(n);
    return full;
}

// The NT form of a full path, as a rename through a handle takes it.
std::wstring NtPath(const std::wstring& full) {
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\??\\UNC\\" + full.substr(2);
    return L"\\??\\" + full;
}

// The resolved path of a folder, following whatever links lead to it: the place its children must lie in.
std::wstring ResolvedFolder(const std::wstring& folder) {
    unique_hfile handle(CreateFileW(WithoutTrailingSeparator(folder).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return handle ? win::FinalPathOf(handle.get()) : L"";
}

// The open file resolves to the folder of path (resolved; parent_resolved when the caller knows it)
// followed by path's own name.
bool LiesAt(HANDLE file, const std::wstring& path, std::wstring parent_resolved = {}) {
    if (parent_resolved.empty()) parent_resolved = ResolvedFolder(unzip::FolderPart(path));
    const std::wstring resolved = win::FinalPathOf(file);
    if (parent_resolved.empty() || resolved.empty()) return false;
    if (parent_resolved.back() != L'\\') parent_resolved += L'\\';
    return win::UpperInvariant(resolved) == win::UpperInvariant(parent_resolved + unzip::FileNamePart(path));
}

enum class Kind {
    Missing,  // nothing at the path
    Own,      // a file or folder that lies where its path says
    Link,     // a symbolic link or junction, opened as itself
    Foreign,  // resolves to another place (or cannot be told): never acted on
};

struct Entry {
    unique_hfile handle;
    Kind kind = Kind::Missing;
    bool folder = false;
    DWORD attributes = 0;
};

// Opens the entry at path without following it and tells what it is. parent_resolved: the resolved path
// of its folder, when the caller knows it already.
Entry OpenEntry(const std::wstring& path, DWORD access, std::wstring parent_resolved = {}, DWORD flags = 0) {
    Entry entry;
    const std::wstring name = WithoutTrailingSeparator(path);
    entry.handle.reset(CreateFileW(name.c_str(), access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShareButDelete, nullptr,
                                   OPEN_EXISTING, kNoFollow | flags, nullptr));
    if (!entry.handle) {
        const DWORD error = GetLastError();
        entry.kind = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Kind::Missing : Kind::Foreign;
        return entry;
    }
    entry.kind = Kind::Foreign;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(entry.handle.get(), FileAttributeTagInfo, &tag, sizeof tag)) return entry;
    entry.attributes = tag.FileAttributes;
    entry.folder = (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        entry.kind = Kind::Link;
        return entry;
    }
    // Wine shows a linked folder's name with the reparse attribute while its handle is the folder linked to.
    const DWORD named = GetFileAttributesW(name.c_str());
    if (named != INVALID_FILE_ATTRIBUTES && (named & FILE_ATTRIBUTE_REPARSE_POINT)) return entry;
    if (LiesAt(entry.handle.get(), name, parent_resolved)) entry.kind = Kind::Own;
    return entry;
}

bool DeleteThrough(const Entry& entry) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (SetFileInformationByHandle(entry.handle.get(), FileDispositionInfo, &disposition, sizeof disposition)) return true;
    // A read-only file (as some archivers mark them) is still ours to replace or remove.
    if (GetLastError() != ERROR_ACCESS_DENIED || !(entry.attributes & FILE_ATTRIBUTE_READONLY)) return false;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = (entry.attributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(entry.handle.get(), FileBasicInfo, &basic, sizeof basic) &&
           SetFileInformationByHandle(entry.handle.get(), FileDispositionInfo, &disposition, sizeof disposition);
}

// Removes the entry at path: a link as a link, a folder (when recurse) with everything below it, each
// child checked against this folder's resolved path while the folder is held. Returns once the handles
// are closed, so the entry is gone when it returns true.
bool RemoveEntry(const std::wstring& path, const std::wstring& parent_resolved, bool recurse) {
    Entry entry = OpenEntry(path, DELETE | FILE_WRITE_ATTRIBUTES | FILE_LIST_DIRECTORY, parent_resolved);
    switch (entry.kind) {
    case Kind::Missing: return true;
    case Kind::Foreign:
        win::diag::Record(L"file system", L"left alone: resolves elsewhere or cannot be opened as itself: " + path);
        return false;
    case Kind::Link: return DeleteThrough(entry);
    case Kind::Own: break;
    }
    if (!entry.folder) return DeleteThrough(entry);
    if (!recurse) return false;
    bool all = true;
    const std::wstring folder = WithoutTrailingSeparator(path), resolved = win::FinalPathOf(entry.handle.get());
    // The children are listed through the handle held, not by a second open of the path.
    std::vector<std::wstring> children;
    std::vector<char> buffer(64 * 1024);
    for (auto info = FileIdBothDirectoryRestartInfo;
         GetFileInformationByHandleEx(entry.handle.get(), info, buffer.data(), static_cast<DWORD>(buffer.size()));
         info = FileIdBothDirectoryInfo) {
        for (size_t at = 0;;) {
            const auto* child = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + at);
            std::wstring name(child->FileName, child->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") children.push_back(std::move(name));
            if (child->NextEntryOffset == 0) break;
            at += child->NextEntryOffset;
        }
    }
    for (const std::wstring& name : children)
        if (!RemoveEntry(folder + L"\\" + name, resolved, true)) all = false;
    return DeleteThrough(entry) && all;
}

std::wstring RunningProgram() { return win::ModulePath(); }

// A file as the file system knows it: its volume and its index there, whatever name leads to it.
struct FileIdentity {
    bool known = false;
    DWORD volume = 0, high = 0, low = 0;
    bool operator==(const FileIdentity& o) const { return known && o.known && volume == o.volume && high == o.high && low == o.low; }
};

FileIdentity IdentityOf(const std::wstring& path) {
    unique_hfile file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !GetFileInformationByHandle(file.get(), &info)) return {};
    return {true, info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// The file this program was started from, taken before an update can move it (RememberRunningProgram).
const FileIdentity& RunningImage() {
    static const FileIdentity image = IdentityOf(RunningProgram());
    return image;
}

// Collects the extractor's small blocks into larger writes; the bytes and their order are unchanged.
class Win32OutputFile : public unzip::OutputFile {
public:
    explicit Win32OutputFile(unique_hfile file) : file_(std::move(file)) { buffer_.reserve(kBufferSize); }
    bool Write(const char* data, size_t size) override {
        if (!ok_) return false;
        if (buffer_.size() + size > kBufferSize && !Flush()) return false;
        if (size >= kBufferSize) return WriteAll(data, size);
        buffer_.insert(buffer_.end(), data, data + size);
        return true;
    }
    bool Close() override {
        // On the disk before the journal can promise it: the cache's lazy writer may take seconds.
        bool flushed = ok_ && Flush() && FlushFileBuffers(file_.get());
        return CloseHandle(file_.release()) && flushed;
    }

private:
    static constexpr size_t kBufferSize = 64 * 1024;
    bool Flush() {
        bool written = WriteAll(buffer_.data(), buffer_.size());
        buffer_.clear();
        return written;
    }
    bool WriteAll(const char* data, size_t size) {
        while (size > 0) {
            DWORD done = 0;
            if (!WriteFile(file_.get(), data, static_cast<DWORD>(size), &done, nullptr) || done == 0) return ok_ = false;
            data += done;
            size -= done;
        }
        return true;
    }
    unique_hfile file_;
    std::vector<char> buffer_;
    bool ok_ = true;
};

class Win32FolderLock : public unzip::FolderLock {
public:
    explicit Win32FolderLock(unique_hfile file) : file_(std::move(file)) {}
    ~Win32FolderLock() override {
        FILE_DISPOSITION_INFO disposition{TRUE};
        SetFileInformationByHandle(file_.get(), FileDispositionInfo, &disposition, sizeof disposition);
    }

private:
    unique_hfile file_;
};

// minizip's file functions over a HANDLE held by the caller: the handle is the stream.
voidpf ZCALLBACK HeldOpen(voidpf opaque, const void*, int) { return opaque; }
uLong ZCALLBACK HeldRead(voidpf, voidpf stream, void* buffer, uLong size) {
    DWORD got = 0;
    return ReadFile(static_cast<HANDLE>(stream), buffer, size, &got, nullptr) ? got : 0;
}
uLong ZCALLBACK HeldWrite(voidpf, voidpf, const void*, uLong) { return 0; }
ZPOS64_T ZCALLBACK HeldTell(voidpf, voidpf stream) {
    LARGE_INTEGER zero{}, position{};
    return SetFilePointerEx(static_cast<HANDLE>(stream), zero, &position, FILE_CURRENT) ? position.QuadPart : static_cast<ZPOS64_T>(-1);
}
long ZCALLBACK HeldSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    DWORD method = origin == ZLIB_FILEFUNC_SEEK_END ? FILE_END : origin == ZLIB_FILEFUNC_SEEK_CUR ? FILE_CURRENT : FILE_BEGIN;
    LARGE_INTEGER distance{};
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(static_cast<HANDLE>(stream), distance, nullptr, method) ? 0 : -1;
}
int ZCALLBACK HeldClose(voidpf, voidpf) { return 0; }  // the caller owns the handle
int ZCALLBACK HeldError(voidpf, voidpf) { return 0; }

}  // namespace

void* Win32FileSystem::OpenArchive(const std::string& archive) {
    // The wide file functions of minizip's Win32 layer: any file name, Chinese ones included.
    zlib_filefunc64_def functions{};
    fill_win32_filefunc64W(&functions);
    const std::wstring path = Wide(archive);
    return unzOpen2_64(path.c_str(), &functions);
}

void* Win32FileSystem::OpenArchiveOver(void* file) {
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return nullptr;
    zlib_filefunc64_def functions{HeldOpen, HeldRead, HeldWrite, HeldTell, HeldSeek, HeldClose, HeldError, file};
    return unzOpen2_64("", &functions);
}

bool Win32FileSystem::IsFileAt(void* file, const std::string& path) {
    return LiesAt(file, WithoutTrailingSeparator(Wide(path)));
}

std::string Win32FileSystem::DecodeEntryName(std::string_view raw, bool utf8_flag) {
    if (utf8_flag) return manifest::CleanUtf8(raw);
    // Archives made by Windows tools store names in the system's ANSI code page.
    if (raw.empty()) return "";
    const std::wstring wide = win::FromCodePage(raw);
    return wide.empty() ? manifest::CleanUtf8(raw) : Utf8(wide);
}

bool Win32FileSystem::IsFolder(const std::string& path) {
    DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32FileSystem::CreateFolder(const std::string& path) { return CreateDirectoryW(Wide(path).c_str(), nullptr) != 0; }

std::unique_ptr<unzip::OutputFile> Win32FileSystem::CreateOutput(const std::string& path) {
    unique_hfile file(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    return std::make_unique<Win32OutputFile>(std::move(file));
}

bool Win32FileSystem::CanReplace(const std::string& path) {
    // The running program's own file is not replaced by the commit (see install_commit.h).
    if (IsRunningProgram(path)) return true;
    // A file open without write sharing (a running program, an editor) cannot be replaced: ask for
    // exclusive access the way the moves will need it, and let go at once.
    unique_hfile probe(CreateFileW(Wide(path).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return probe || GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
}

bool Win32FileSystem::MoveOver(const std::string& from, const std::string& to) {
    // Write-through: the move is on the disk before the next step of a commit.
    Entry entry = OpenEntry(Wide(from), DELETE, {}, FILE_FLAG_WRITE_THROUGH);
    if (entry.kind != Kind::Own && entry.kind != Kind::Link) {
        if (entry.kind == Kind::Foreign) win::diag::Record(L"file system", L"not moved: resolves elsewhere: " + Wide(from));
        return false;
    }
    const std::wstring target = NtPath(FullPath(Wide(to)));
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::copy(target.begin(), target.end(), rename->FileName);
    return SetFileInformationByHandle(entry.handle.get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != 0;
}

void Win32FileSystem::RemoveFile(const std::string& path) { RemoveEntry(Wide(path), {}, false); }

bool Win32FileSystem::FileExists(const std::string& path) { return win::FileExists(Wide(path)); }

bool Win32FileSystem::RemoveFolder(const std::string& path) { return RemoveDirectoryW(Wide(path).c_str()) != 0; }

bool Win32FileSystem::RemoveTree(const std::string& path) { return RemoveEntry(Wide(path), {}, true); }

bool Win32FileSystem::WriteDurably(const std::string& path, std::string_view data) {
    // A fresh file: whatever had the name goes first (a link only as a link), and CREATE_NEW never
    // writes through one that could not be removed.
    RemoveFile(path);
    unique_hfile file(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) && written == data.size() &&
           FlushFileBuffers(file.get());
}

std::optional<std::string> Win32FileSystem::ReadWholeFile(const std::string& path) {
    unique_hfile file(CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > (16 << 20)) return std::nullopt;
    std::string data(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!data.empty() && (!ReadFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &read, nullptr) || read != data.size()))
        return std::nullopt;
    return data;
}

std::string Win32FileSystem::FoldCase(std::string_view name) {
    // Windows compares file names after mapping both to upper case with the invariant table.
    const std::wstring wide = Wide(name);
    if (wide.empty()) return "";
    return Utf8(win::UpperInvariant(wide));
}

std::optional<unsigned long long> Win32FileSystem::FreeBytes(const std::string& folder) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(Wide(folder).c_str(), &available, nullptr, nullptr)) return std::nullopt;
    return available.QuadPart;
}

bool Win32FileSystem::IsOwnFolder(const std::string& path) {
    const Entry entry = OpenEntry(Wide(path), 0);
    return entry.kind == Kind::Own && entry.folder;
}

std::unique_ptr<unzip::FolderLock> Win32FileSystem::LockFolder(const std::string& path, bool& busy) {
    const std::wstring name = Wide(path);
    unique_hfile file(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    last_lock_error_ = file ? 0 : GetLastError();
    busy = !file && last_lock_error_ == ERROR_SHARING_VIOLATION;
    if (!file) return nullptr;
    // Removed as the lock is let go: only when it is the file at its name, never one a link leads to.
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof tag) ||
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !LiesAt(file.get(), name)) {
        win::diag::Record(L"install lock", L"not a file of the work folder: " + name);
        return nullptr;
    }
    return std::make_unique<Win32FolderLock>(std::move(file));
}

bool Win32FileSystem::IsRunningProgram(const std::string& path) {
    // By the file, not by its name: the step names its installation by the folder's final path, which may
    // differ from the text the program was started with, and a moved-aside image is still the one running.
    if (RunningImage().known) return IdentityOf(Wide(path)) == RunningImage();
    const std::wstring self = RunningProgram();
    return !self.empty() && win::UpperInvariant(FullPath(self)) == win::UpperInvariant(FullPath(Wide(path)));
}

void RememberRunningProgram() { RunningImage(); }

bool Win32FileSystem::DefersRunningProgram() { return !IsElevatedStep(); }

std::optional<unzip::FileSummary> Win32FileSystem::Summarize(const std::string& path) {
    unique_hfile file(CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return std::nullopt;
    unzip::FileSummary summary;
    uLong crc = crc32(0L, Z_NULL, 0);
    std::vector<unsigned char> block(1 << 20);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &got, nullptr)) return std::nullopt;
        if (got == 0) break;
        crc = crc32(crc, block.data(), got);
        summary.size += got;
    }
    summary.crc = static_cast<uint32_t>(crc);
    return summary;
}

}  // namespace vantorix::services
