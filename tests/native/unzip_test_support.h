#pragma once
// Shared pieces of the extractor's native tests: a scratch folder, file helpers and a file system that
// fails on demand.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>

#include "common/unzip/extract.h"
#include "common/unzip/posix_file_system.h"

namespace vantorix::testing {

namespace fs = std::filesystem;

// A fresh folder per test, removed afterwards.
class ScratchFolder {
public:
    ScratchFolder() {
        static int counter = 0;
        root_ = fs::temp_directory_path() / ("vx-unzip-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    const fs::path& root() const { return root_; }

private:
    fs::path root_;
};

// The extractor's form of a host path: "\" separators.
inline std::string Win(const fs::path& p) {
    std::string s = p.string();
    for (char& c : s)
        if (c == '/') c = '\\';
    return s;
}

inline void WriteBytes(const fs::path& p, const std::string& data) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
}

inline std::string ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every file and folder below root, relative, sorted.
inline std::set<std::string> Listing(const fs::path& root) {
    std::set<std::string> out;
    if (!fs::exists(root)) return out;
    for (auto& e : fs::recursive_directory_iterator(root)) out.insert(fs::relative(e.path(), root).string() + (e.is_directory() ? "/" : ""));
    return out;
}

// The host file system with switches that make single operations fail.
class FaultyFileSystem : public unzip::PosixFileSystem {
public:
    std::function<bool(const std::string&)> fail_create_folder = [](const std::string&) { return false; };
    long fail_write_after = -1;  // bytes accepted before writes fail; -1 never
    bool fail_replace = false;
    bool fail_close = false;
    std::set<std::string> written;  // every file path opened for writing

    bool CreateFolder(const std::string& path) override {
        if (fail_create_folder(path)) return false;
        return PosixFileSystem::CreateFolder(path);
    }
    std::unique_ptr<unzip::OutputFile> CreateOutput(const std::string& path) override {
        written.insert(path);
        auto inner = PosixFileSystem::CreateOutput(path);
        if (!inner) return nullptr;
        return std::make_unique<Faulty>(std::move(inner), this);
    }
    std::optional<unsigned long long> free_bytes;  // the volume's free space as reported; unset: the host's
    std::optional<unsigned long long> FreeBytes(const std::string& folder) override {
        return free_bytes ? free_bytes : PosixFileSystem::FreeBytes(folder);
    }
    std::set<std::string> in_use;  // targets CanReplace refuses
    bool CanReplace(const std::string& path) override { return in_use.count(path) == 0; }
    bool MoveOver(const std::string& from, const std::string& to) override {
        if (fail_replace) return false;
        return PosixFileSystem::MoveOver(from, to);
    }

private:
    struct Faulty : unzip::OutputFile {
        Faulty(std::unique_ptr<unzip::OutputFile> inner, FaultyFileSystem* owner) : inner(std::move(inner)), owner(owner) {}
        bool Write(const char* data, size_t size) override {
            if (owner->fail_write_after >= 0) {
                if (static_cast<long>(accepted + size) > owner->fail_write_after) return false;
            }
            accepted += size;
            return inner->Write(data, size);
        }
        bool Close() override { return inner->Close() && !owner->fail_close; }
        std::unique_ptr<unzip::OutputFile> inner;
        FaultyFileSystem* owner;
        size_t accepted = 0;
    };
};

}  // namespace vantorix::testing
