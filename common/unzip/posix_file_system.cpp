#ifndef _WIN32
#include "common/unzip/posix_file_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <unzip.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "common/manifest/utf8_text.h"

namespace vantorix::unzip {
namespace {

// Collects the extractor's small blocks into larger writes; the bytes and their order are unchanged.
class PosixOutputFile : public OutputFile {
public:
    explicit PosixOutputFile(int fd) : fd_(fd) { buffer_.reserve(kBufferSize); }
    ~PosixOutputFile() override {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Write(const char* data, size_t size) override {
        if (buffer_.size() + size > kBufferSize && !Flush()) return false;
        if (size >= kBufferSize) return WriteAll(data, size);
        buffer_.insert(buffer_.end(), data, data + size);
        return true;
    }
    bool Close() override {
        bool flushed = Flush() && ::fsync(fd_) == 0;
        int fd = fd_;
        fd_ = -1;
        return fd >= 0 && ::close(fd) == 0 && flushed;
    }

private:
    static constexpr size_t kBufferSize = 64 * 1024;
    bool Flush() {
        bool ok = WriteAll(buffer_.data(), buffer_.size());
        buffer_.clear();
        return ok;
    }
    bool WriteAll(const char* data, size_t size) {
        while (size > 0) {
            ssize_t n = ::write(fd_, data, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    int fd_;
    std::vector<char> buffer_;
};

class PosixFolderLock : public FolderLock {
public:
    PosixFolderLock(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixFolderLock() override {
        ::unlink(path_.c_str());
        ::close(fd_);
    }

private:
    int fd_;
    std::string path_;
};

std::optional<std::string> RealPath(const std::string& host) {
    char resolved[PATH_MAX];
    if (!::realpath(host.c_str(), resolved)) return std::nullopt;
    return std::string(resolved);
}

}  // namespace

std::string PosixFileSystem::HostPath(const std::string& path) {
    std::string host = path;
    for (char& c : host)
        if (c == '\\') c = '/';
    return host;
}

void* PosixFileSystem::OpenArchive(const std::string& archive) { return unzOpen64(HostPath(archive).c_str()); }

std::string PosixFileSystem::DecodeEntryName(std::string_view raw, bool utf8_flag) {
    std::string clean = manifest::CleanUtf8(raw);
    if (utf8_flag || clean == raw) return clean;
    // Not UTF-8 and not flagged: read the bytes as Latin-1, which keeps every name distinct.
    std::string out;
    for (char c : raw) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

bool PosixFileSystem::IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(HostPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PosixFileSystem::CreateFolder(const std::string& path) { return ::mkdir(HostPath(path).c_str(), 0777) == 0; }

std::unique_ptr<OutputFile> PosixFileSystem::CreateOutput(const std::string& path) {
    int fd = ::open(HostPath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixOutputFile>(fd);
}

bool PosixFileSystem::MoveOver(const std::string& from, const std::string& to) {
    return std::rename(HostPath(from).c_str(), HostPath(to).c_str()) == 0;
}

void PosixFileSystem::RemoveFile(const std::string& path) { ::unlink(HostPath(path).c_str()); }

bool PosixFileSystem::FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(HostPath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PosixFileSystem::RemoveFolder(const std::string& path) { return ::rmdir(HostPath(path).c_str()) == 0; }

bool PosixFileSystem::RemoveTree(const std::string& path) {
    // Without its trailing "/": "link/" would name the folder the link points at.
    std::string host = HostPath(path);
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    std::error_code ec;
    std::filesystem::remove_all(host, ec);
    return !std::filesystem::exists(std::filesystem::symlink_status(host, ec));
}

bool PosixFileSystem::WriteDurably(const std::string& path, std::string_view data) {
    // A fresh file: never written through whatever had the name.
    ::unlink(HostPath(path).c_str());
    int fd = ::open(HostPath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < data.size();) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

std::optional<std::string> PosixFileSystem::ReadWholeFile(const std::string& path) {
    // Sized once and read in one go, as the Win32 file system does: a stream copied into a growing string
    // moves every byte several times, which the delta's check of the installed files would pay per file.
    std::ifstream in(HostPath(path), std::ios::binary | std::ios::ate);
    if (!in) return std::nullopt;
    const std::streamoff size = in.tellg();
    if (size < 0 || !in.seekg(0)) return std::nullopt;
    std::string data(static_cast<size_t>(size), '\0');
    if (size > 0 && !in.read(data.data(), size)) return std::nullopt;
    return data;
}

std::optional<unsigned long long> PosixFileSystem::FreeBytes(const std::string& folder) {
    struct statvfs volume {};
    if (statvfs(HostPath(folder).c_str(), &volume) != 0) return std::nullopt;
    return static_cast<unsigned long long>(volume.f_bavail) * volume.f_frsize;
}

bool PosixFileSystem::IsOwnFolder(const std::string& path) {
    std::string host = HostPath(path);
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    struct stat st {};
    if (::lstat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    const size_t slash = host.find_last_of('/');
    if (slash == std::string::npos) return false;
    const auto self = RealPath(host), parent = RealPath(slash == 0 ? "/" : host.substr(0, slash));
    return self && parent && *self == (*parent == "/" ? "" : *parent) + host.substr(slash);
}

std::unique_ptr<FolderLock> PosixFileSystem::LockFolder(const std::string& path, bool& busy) {
    busy = false;
    const std::string host = HostPath(path);
    for (;;) {
        int fd = ::open(host.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0) return nullptr;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            busy = errno == EWOULDBLOCK;
            ::close(fd);
            return nullptr;
        }
        // The holder before us removes the file as it lets go: the lock counts only on the file that is
        // still at the path, or two processes would each hold one.
        struct stat held {}, named {};
        if (::fstat(fd, &held) == 0 && ::stat(host.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev)
            return std::make_unique<PosixFolderLock>(fd, host);
        ::close(fd);
    }
}

std::optional<FileSummary> PosixFileSystem::Summarize(const std::string& path) {
    int fd = ::open(HostPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    FileSummary summary;
    uLong crc = crc32(0L, Z_NULL, 0);
    std::vector<unsigned char> block(64 * 1024);
    for (;;) {
        ssize_t n = ::read(fd, block.data(), block.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        crc = crc32(crc, block.data(), static_cast<uInt>(n));
        summary.size += static_cast<unsigned long long>(n);
    }
    ::close(fd);
    summary.crc = static_cast<uint32_t>(crc);
    return summary;
}

std::string PosixFileSystem::FoldCase(std::string_view name) {
    std::string key(name);
    for (char& c : key)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return key;
}

}  // namespace vantorix::unzip
#endif
