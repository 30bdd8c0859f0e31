// Unzip on Windows: the extractor's file system over the wide Win32 file API, and the module's functions.
#include <windows.h>
#include <unzip.h>
#include <iowin32.h>  // after unzip.h: it relies on ioapi.h's declarations

#include <cstring>

#include "common/manifest/utf8_text.h"
#include "common/unzip/extract.h"
#include "common/unzip/paths.h"
#include "launcher/services/services.h"
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

class Win32FileSystem : public unzip::FileSystem {
public:
    void* OpenArchive(const std::string& archive) override {
        // The wide file functions of minizip's Win32 layer: any file name, Chinese ones included.
        zlib_filefunc64_def functions{};
        fill_win32_filefunc64W(&functions);
        const std::wstring path = Wide(archive);
        return unzOpen2_64(path.c_str(), &functions);
    }
    std::string DecodeEntryName(std::string_view raw, bool utf8_flag) override {
        if (utf8_flag) return manifest::CleanUtf8(raw);
        // Archives made by Windows tools store names in the system's ANSI code page.
        if (raw.empty()) return "";
        int n = MultiByteToWideChar(CP_ACP, 0, raw.data(), static_cast<int>(raw.size()), nullptr, 0);
        if (n <= 0) return manifest::CleanUtf8(raw);
        std::wstring wide(static_cast<size_t>(n), L'\0');
        MultiByteToWideChar(CP_ACP, 0, raw.data(), static_cast<int>(raw.size()), wide.data(), n);
        return Utf8(wide);
    }
    bool IsFolder(const std::string& path) override {
        DWORD attributes = GetFileAttributesW(Wide(path).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    bool CreateFolder(const std::string& path) override { return CreateDirectoryW(Wide(path).c_str(), nullptr) != 0; }
    std::unique_ptr<unzip::OutputFile> CreateOutput(const std::string& path) override {
        unique_hfile file(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return nullptr;
        return std::make_unique<Win32OutputFile>(std::move(file));
    }
    bool CanReplace(const std::string& path) override {
        // A file open without write sharing (a running program, an editor) cannot be replaced: ask for
        // exclusive write access the way the final move will need it, and let go at once.
        unique_hfile probe(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return probe || GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    }
    bool MoveOver(const std::string& from, const std::string& to) override {
        return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    }
    void RemoveFile(const std::string& path) override { DeleteFileW(Wide(path).c_str()); }
};

UnzipStatus ToStatus(unzip::Status status) {
    switch (status) {
        case unzip::Status::Ok: return UnzipStatus::Ok;
        case unzip::Status::NotAnArchive: return UnzipStatus::NotAnArchive;
        case unzip::Status::EmptyArchive: return UnzipStatus::EmptyArchive;
        case unzip::Status::UnsafeName: return UnzipStatus::UnsafeName;
        case unzip::Status::DamagedEntry: return UnzipStatus::DamagedEntry;
        case unzip::Status::CannotCreateFolder: return UnzipStatus::CannotCreateFolder;
        case unzip::Status::CannotWriteFile: return UnzipStatus::CannotWriteFile;
    }
    return UnzipStatus::NotAnArchive;
}

}  // namespace

UnzipResult UnzipToFolder(const std::wstring& folder, const std::wstring& archive) {
    Win32FileSystem files;
    unzip::Result r = unzip::UnzipToFolder(files, Utf8(folder), Utf8(archive));
    UnzipResult result;
    result.status = ToStatus(r.status);
    result.entry = Wide(r.entry);
    result.files_written = r.files_written;
    return result;
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
    }
    return L"?";
}

}  // namespace vantorix::services
