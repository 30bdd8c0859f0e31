#include "common/unzip/extract.h"

#include <unzip.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <vector>

#include "common/text/ascii.h"

#include "common/unzip/paths.h"

namespace vantorix::unzip {
namespace {

constexpr unsigned long kDirectoryAttribute = 0x10;
constexpr unsigned long kUtf8NameFlag = 0x800;
constexpr size_t kMaxPath = 260;
constexpr unsigned kCheckBlock = 256 * 1024;  // MAX_PATH, counting the terminating NUL

struct ArchiveCloser {
    void operator()(void* archive) const { unzClose(static_cast<unzFile>(archive)); }
};
using ArchiveHandle = std::unique_ptr<void, ArchiveCloser>;

struct Entry {
    std::string name;  // decoded, "\" separators
    bool folder = false;
};

Result Fail(Status status, std::string entry, std::string detail) {
    Result r;
    r.status = status;
    r.entry = std::move(entry);
    r.detail = std::move(detail);
    return r;
}

// Reads the current entry to its end through a kReadBlock buffer, handing each block to sink. The entry
// counts as intact only when every read succeeds, exactly the stored size arrives, and minizip's CRC check
// at close passes (it checks only when the whole entry was read, hence the size test).
template <class Sink>
std::optional<std::string> ReadEntry(unzFile zf, unsigned long long expected_size, char* buffer, unsigned block, Sink&& sink) {
    if (unzOpenCurrentFile(zf) != UNZ_OK) return "cannot open entry";
    unsigned long long total = 0;
    std::optional<std::string> problem;
    for (;;) {
        int got = unzReadCurrentFile(zf, buffer, block);
        if (got < 0) {
            problem = "read error " + std::to_string(got);
            break;
        }
        if (got == 0) break;
        total += static_cast<unsigned>(got);
        if (total > expected_size) {
            problem = "more data than the stored size";
            break;
        }
        if (!sink(buffer, static_cast<size_t>(got))) {
            problem = "";  // the sink's own failure; the caller knows which
            break;
        }
    }
    int closed = unzCloseCurrentFile(zf);
    if (problem) return problem;
    if (total != expected_size) return "truncated data";
    if (closed == UNZ_CRCERROR) return "CRC mismatch";
    if (closed != UNZ_OK) return "close error " + std::to_string(closed);
    return std::nullopt;
}

uint32_t Le(const unsigned char* p, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

// Info-ZIP's Unicode Path extra field (0x7075): the UTF-8 form of a name stored in a legacy code page,
// valid while the CRC it carries matches the stored name.
std::optional<std::string> UnicodePathField(std::string_view extra, std::string_view stored) {
    auto p = reinterpret_cast<const unsigned char*>(extra.data());
    size_t n = extra.size(), i = 0;
    while (i + 4 <= n) {
        uint32_t tag = Le(p + i, 2), size = Le(p + i + 2, 2);
        if (i + 4 + size > n) break;
        if (tag == 0x7075 && size >= 5 && p[i + 4] == 1) {
            uint32_t crc = Le(p + i + 5, 4);
            uLong actual = crc32(0L, reinterpret_cast<const Bytef*>(stored.data()), static_cast<uInt>(stored.size()));
            if (crc == actual) return std::string(reinterpret_cast<const char*>(p + i + 9), size - 5);
        }
        i += 4 + size;
    }
    return std::nullopt;
}

// Length in UTF-16 code units, the measure of Windows' path limit.
size_t Utf16Length(std::string_view utf8) {
    size_t n = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80) ++n;
        if (c >= 0xF0) ++n;  // a surrogate pair
    }
    return n;
}

std::optional<Result> VerifyAll(FileSystem& fs, unzFile zf, size_t folder_length, std::vector<Entry>& entries) {
    std::vector<char> raw(65536 + 1), extra(65536), check_buffer(kCheckBlock);
    int rc = unzGoToFirstFile(zf);
    while (rc == UNZ_OK) {
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(zf, &info, raw.data(), raw.size(), extra.data(), extra.size(), nullptr, 0) != UNZ_OK)
            return Fail(Status::DamagedEntry, "", "unreadable entry header");
        std::string_view stored(raw.data(), info.size_filename);
        Entry entry;
        if (stored.find('\0') != std::string_view::npos)
            return Fail(Status::UnsafeName, fs.DecodeEntryName(stored.substr(0, stored.find('\0')), false), "NUL in name");
        auto unicode = UnicodePathField(std::string_view(extra.data(), std::min<size_t>(info.size_file_extra, extra.size())), stored);
        if (unicode) entry.name = fs.DecodeEntryName(*unicode, true);
        else entry.name = fs.DecodeEntryName(stored, (info.flag & kUtf8NameFlag) != 0);
        if (NameProblem problem = CheckEntryName(entry.name); problem != NameProblem::None)
            return Fail(Status::UnsafeName, entry.name, NameProblemText(problem));
        for (char& c : entry.name)
            if (c == '/') c = '\\';
        // Folders: the MS-DOS directory attribute, or a name ending in "/" as other systems store them.
        entry.folder = (info.external_fa & kDirectoryAttribute) != 0 || entry.name.back() == '\\';
        // A path beyond the classic limit would fail half-way through the writes; refuse it now.
        if (folder_length + Utf16Length(entry.name) + kPartSuffix.size() >= kMaxPath)
            return Fail(Status::UnsafeName, entry.name, "path too long");
        // The check reads in large blocks: nothing is written, and the result is the same.
        if (auto problem = ReadEntry(zf, info.uncompressed_size, check_buffer.data(), kCheckBlock, [](const char*, size_t) { return true; }))
            return Fail(Status::DamagedEntry, entry.name, *problem);
        entries.push_back(std::move(entry));
        rc = unzGoToNextFile(zf);
    }
    if (rc != UNZ_END_OF_LIST_OF_FILE) return Fail(Status::DamagedEntry, "", "broken central directory");
    // A file entry whose name is also a folder of another entry cannot be laid down; find it before writing.
    std::set<std::string> folders, files;
    for (const Entry& entry : entries) {
        std::string key = AsciiLower(entry.name);
        if (!entry.folder) files.insert(key);
        for (size_t pos = key.find('\\'); pos != std::string::npos; pos = key.find('\\', pos + 1))
            folders.insert(key.substr(0, pos));
        if (entry.folder) folders.insert(key.back() == '\\' ? key.substr(0, key.size() - 1) : key);
    }
    for (const std::string& file : files)
        if (folders.count(file)) return Fail(Status::UnsafeName, file, "a file and a folder of the same name");
    return std::nullopt;
}

}  // namespace

const char* StatusText(Status status) {
    switch (status) {
        case Status::Ok: return "unpacked";
        case Status::NotAnArchive: return "not a readable ZIP archive";
        case Status::EmptyArchive: return "archive holds no entries";
        case Status::UnsafeName: return "entry name not allowed";
        case Status::DamagedEntry: return "damaged entry";
        case Status::CannotCreateFolder: return "cannot create folder";
        case Status::CannotWriteFile: return "cannot write file";
    }
    return "?";
}

std::optional<std::string> MakePath(FileSystem& fs, std::string_view path) {
    const std::string s = NormaliseFolder(path);
    if (fs.IsFolder(s)) return s;
    // A network path's \\server\share\ is not created level by level: start after it.
    size_t from = 0;
    if (s.compare(0, 2, "\\\\") == 0) {
        from = s.find('\\', 2);
        if (from != std::string::npos) from = s.find('\\', from + 1);
        if (from == std::string::npos) return std::nullopt;
    }
    for (size_t pos = s.find('\\', from); pos != std::string::npos; pos = s.find('\\', pos + 1)) {
        std::string prefix = s.substr(0, pos + 1);
        if (fs.IsFolder(prefix)) continue;
        // Another process may create it meanwhile: what counts is that it exists afterwards.
        if (!fs.CreateFolder(prefix) && !fs.IsFolder(prefix)) return std::nullopt;
    }
    return s;
}

Result UnzipToFolder(FileSystem& fs, std::string_view folder, const std::string& archive) {
    ArchiveHandle handle(fs.OpenArchive(archive));
    if (!handle) return Fail(Status::NotAnArchive, "", "cannot open");
    auto zf = static_cast<unzFile>(handle.get());
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zf, &global) != UNZ_OK) return Fail(Status::NotAnArchive, "", "no central directory");
    if (global.number_entry == 0) return Fail(Status::EmptyArchive, "", "no entries");

    std::vector<Entry> entries;
    if (auto failure = VerifyAll(fs, zf, Utf16Length(NormaliseFolder(folder)), entries)) return *failure;

    auto base = MakePath(fs, folder);
    if (!base) return Fail(Status::CannotCreateFolder, NormaliseFolder(folder), "");
    // Stage every file beside its target first; only when all are staged, and no target is held open by
    // a running program, are the old files replaced, one quick move each.
    struct Staged {
        std::string part, final_path;
    };
    std::vector<Staged> staged;
    auto discard = [&](size_t from) {
        for (size_t i = from; i < staged.size(); ++i) fs.RemoveFile(staged[i].part);
    };
    auto fail = [&](Status status, std::string entry, std::string detail, size_t written = 0) {
        Result r = Fail(status, std::move(entry), std::move(detail));
        r.files_written = written;
        return r;
    };
    int rc = unzGoToFirstFile(zf);
    for (const Entry& entry : entries) {
        if (rc != UNZ_OK) return discard(0), fail(Status::DamagedEntry, entry.name, "archive changed while unpacking");
        const std::string target = *base + entry.name;
        if (entry.folder) {
            if (!MakePath(fs, target)) return discard(0), fail(Status::CannotCreateFolder, target, "");
        } else {
            auto dir = MakePath(fs, FolderPart(target));
            if (!dir) return discard(0), fail(Status::CannotCreateFolder, FolderPart(target), "");
            const std::string final_path = *dir + FileNamePart(target);
            const std::string part_path = final_path + std::string(kPartSuffix);
            auto out = fs.CreateOutput(part_path);
            if (!out) return discard(0), fail(Status::CannotWriteFile, final_path, "cannot create");
            staged.push_back({part_path, final_path});
            unz_file_info64 info{};
            unzGetCurrentFileInfo64(zf, &info, nullptr, 0, nullptr, 0, nullptr, 0);
            bool write_failed = false;
            char block[kReadBlock];
            auto problem = ReadEntry(zf, info.uncompressed_size, block, kReadBlock, [&](const char* data, size_t size) {
                write_failed = !out->Write(data, size);
                return !write_failed;
            });
            bool closed = out->Close();
            if (problem || !closed) {
                discard(0);
                if (write_failed || !closed) return fail(Status::CannotWriteFile, final_path, "write failed");
                return fail(Status::DamagedEntry, entry.name, *problem);
            }
        }
        rc = unzGoToNextFile(zf);
    }
    for (const Staged& s : staged)
        if (!fs.CanReplace(s.final_path)) return discard(0), fail(Status::CannotWriteFile, s.final_path, "in use");
    Result result;
    result.status = Status::Ok;
    for (size_t i = 0; i < staged.size(); ++i) {
        if (!fs.MoveOver(staged[i].part, staged[i].final_path))
            return discard(i), fail(Status::CannotWriteFile, staged[i].final_path, "cannot replace", i);
        ++result.files_written;
    }
    return result;
}

}  // namespace vantorix::unzip
