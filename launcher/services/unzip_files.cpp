// Unzip on Windows: the extractor's file system over the wide Win32 file API, and the module's functions.
#include <windows.h>
#include <unzip.h>
#include <iowin32.h>  // after unzip.h: it relies on ioapi.h's declarations

#include <cstring>

#include "common/manifest/utf8_text.h"
#include "common/unzip/extract.h"
#include "common/unzip/install_commit.h"
#include "common/unzip/paths.h"
#include "launcher/services/services.h"
#include "launcher/services/win32_file_system.h"
#include "launcher/services/wide_text.h"
#include "win/unique_handle.h"

namespace vantorix::services {
namespace {

using win::unique_hfile;

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
        bool flushed = ok_ && Flush();
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

}  // namespace

void* Win32FileSystem::OpenArchive(const std::string& archive) {
    // The wide file functions of minizip's Win32 layer: any file name, Chinese ones included.
    zlib_filefunc64_def functions{};
    fill_win32_filefunc64W(&functions);
    const std::wstring path = Wide(archive);
    return unzOpen2_64(path.c_str(), &functions);
}

std::string Win32FileSystem::DecodeEntryName(std::string_view raw, bool utf8_flag) {
    if (utf8_flag) return manifest::CleanUtf8(raw);
    // Archives made by Windows tools store names in the system's ANSI code page.
    if (raw.empty()) return "";
    int n = MultiByteToWideChar(CP_ACP, 0, raw.data(), static_cast<int>(raw.size()), nullptr, 0);
    if (n <= 0) return manifest::CleanUtf8(raw);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, raw.data(), static_cast<int>(raw.size()), wide.data(), n);
    return Utf8(wide);
}

bool Win32FileSystem::IsFolder(const std::string& path) {
    DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32FileSystem::CreateFolder(const std::string& path) { return CreateDirectoryW(Wide(path).c_str(), nullptr) != 0; }

std::unique_ptr<unzip::OutputFile> Win32FileSystem::CreateOutput(const std::string& path) {
    unique_hfile file(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    return std::make_unique<Win32OutputFile>(std::move(file));
}

bool Win32FileSystem::CanReplace(const std::string& path) {
    // The launcher's own program: running, so it cannot be opened for writing, but Windows lets its file
    // be renamed. The commit moves it aside into the rollback folder and the new one takes its name; the
    // old file goes when that folder is cleaned up, at the latest at the next start.
    wchar_t self[MAX_PATH * 2] = {};
    const DWORD length = GetModuleFileNameW(nullptr, self, ARRAYSIZE(self));
    if (length > 0 && length < ARRAYSIZE(self) && FoldCase(Utf8(self)) == FoldCase(path)) return true;
    // A file open without write sharing (a running program, an editor) cannot be replaced: ask for
    // exclusive access the way the moves will need it, and let go at once.
    unique_hfile probe(CreateFileW(Wide(path).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return probe || GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
}

bool Win32FileSystem::MoveOver(const std::string& from, const std::string& to) {
    // Write-through: the move is on the disk before the next step of a commit.
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void Win32FileSystem::RemoveFile(const std::string& path) {
    const std::wstring wide = Wide(path);
    if (!DeleteFileW(wide.c_str()) && GetLastError() == ERROR_ACCESS_DENIED) {
        // A read-only file (as some archivers mark them) is still ours to replace or remove.
        SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(wide.c_str());
    }
}

bool Win32FileSystem::FileExists(const std::string& path) {
    DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32FileSystem::RemoveFolder(const std::string& path) { return RemoveDirectoryW(Wide(path).c_str()) != 0; }

bool Win32FileSystem::RemoveTree(const std::string& path) {
    std::string folder = path;
    if (!folder.empty() && folder.back() == '\\') folder.pop_back();
    if (!IsFolder(folder)) return true;
    WIN32_FIND_DATAW found{};
    win::unique_find search(FindFirstFileW(Wide(folder + "\\*").c_str(), &found));
    if (search) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::string child = folder + "\\" + Utf8(name);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(child);
            else RemoveFile(child);
        } while (FindNextFileW(search.get(), &found));
    }
    search.reset();
    return RemoveDirectoryW(Wide(folder).c_str()) != 0 || !IsFolder(folder);
}

bool Win32FileSystem::WriteDurably(const std::string& path, std::string_view data) {
    unique_hfile file(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
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
    std::wstring upper(wide.size(), L'\0');
    int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), static_cast<int>(wide.size()), upper.data(),
                          static_cast<int>(upper.size()), nullptr, nullptr, 0);
    if (n <= 0) return std::string(name);
    upper.resize(static_cast<size_t>(n));
    return Utf8(upper);
}

std::optional<unsigned long long> Win32FileSystem::FreeBytes(const std::string& folder) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(Wide(folder).c_str(), &available, nullptr, nullptr)) return std::nullopt;
    return available.QuadPart;
}

namespace {

UnzipStatus ToStatus(unzip::Status status) {
    switch (status) {
        case unzip::Status::Ok: return UnzipStatus::Ok;
        case unzip::Status::NotAnArchive: return UnzipStatus::NotAnArchive;
        case unzip::Status::EmptyArchive: return UnzipStatus::EmptyArchive;
        case unzip::Status::UnsafeName: return UnzipStatus::UnsafeName;
        case unzip::Status::DamagedEntry: return UnzipStatus::DamagedEntry;
        case unzip::Status::CannotCreateFolder: return UnzipStatus::CannotCreateFolder;
        case unzip::Status::CannotWriteFile: return UnzipStatus::CannotWriteFile;
        case unzip::Status::EncryptedEntry: return UnzipStatus::EncryptedEntry;
        case unzip::Status::NoRoom: return UnzipStatus::NoRoom;
    }
    return UnzipStatus::NotAnArchive;
}

}  // namespace

UnzipResult UnzipToFolder(const std::wstring& folder, const std::wstring& archive, const unzip::UnpackProgress& progress) {
    Win32FileSystem files;
    unzip::Result r = unzip::UnzipToFolder(files, Utf8(folder), Utf8(archive), {}, progress);
    UnzipResult result;
    result.status = ToStatus(r.status);
    result.entry = Wide(r.status == unzip::Status::NoRoom ? r.detail : r.entry);
    result.files_written = r.files_written;
    return result;
}

InstallRecovery RecoverInterruptedInstall(const std::wstring& folder) {
    Win32FileSystem files;
    unzip::InstallPaths paths;
    paths.folder = unzip::NormaliseFolder(Utf8(folder));
    paths.work = paths.folder + std::string(unzip::kWorkFolder);
    switch (unzip::RecoverInstall(files, paths)) {
        case unzip::Recovery::Nothing: return InstallRecovery::Nothing;
        case unzip::Recovery::RolledBack: return InstallRecovery::RolledBack;
        case unzip::Recovery::Finished: return InstallRecovery::Finished;
        case unzip::Recovery::Failed: break;
    }
    return InstallRecovery::Failed;
}

std::optional<std::wstring> MakePath(const std::wstring& path) {
    Win32FileSystem files;
    auto made = unzip::MakePath(files, Utf8(path));
    if (!made) return std::nullopt;
    return Wide(*made);
}

std::wstring FileNamePart(const std::wstring& path) { return unzip::FileNamePart(path); }
std::wstring FolderPart(const std::wstring& path) { return unzip::FolderPart(path); }

const wchar_t* UnzipStatusText(UnzipStatus status) {
    switch (status) {
        case UnzipStatus::Ok: return L"unpacked";
        case UnzipStatus::NotAnArchive: return L"not a readable ZIP archive";
        case UnzipStatus::EmptyArchive: return L"archive holds no entries";
        case UnzipStatus::UnsafeName: return L"entry name not allowed";
        case UnzipStatus::DamagedEntry: return L"damaged entry";
        case UnzipStatus::CannotCreateFolder: return L"cannot create folder";
        case UnzipStatus::CannotWriteFile: return L"cannot write file";
        case UnzipStatus::EncryptedEntry: return L"encrypted entry";
        case UnzipStatus::NoRoom: return L"not enough free disk space";
    }
    return L"?";
}

}  // namespace vantorix::services
