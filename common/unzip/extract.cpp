#include "common/unzip/extract.h"

#include <unzip.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <vector>

#include "common/text/ascii.h"

#include "common/unzip/install_commit.h"
#include "common/unzip/paths.h"
#include "common/unzip/zip_entry.h"

namespace vantorix::unzip {
namespace {

constexpr unsigned long kDirectoryAttribute = 0x10;
constexpr unsigned long kUtf8NameFlag = 0x800;
constexpr unsigned long kEncryptedFlag = 0x1;
constexpr size_t kMaxPath = 260;
constexpr unsigned kStageBlock = 64 * 1024;

struct Entry {
    std::string name;  // decoded, "\" separators; folders end in "\"
    bool folder = false;
    unsigned long long size = 0;  // uncompressed, as the central directory says
    uint32_t crc = 0;             // of the uncompressed bytes, checked while the entry is staged
};


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

// Checks the central directory before anything is decompressed: names safe, inside the folder and
// outside the work folder, distinct as the host's file system compares them, no encrypted entry, and an
// uncompressed total within bounds. Each entry's own data is checked while it is staged.
std::optional<Result> CheckDirectory(FileSystem& fs, unzFile zf, size_t path_room, const std::string& reserved,
                                     std::vector<Entry>& entries) {
    std::vector<char> raw(65536 + 1), extra(65536);
    std::set<std::string> seen;
    unsigned long long total = 0;
    int rc = unzGoToFirstFile(zf);
    while (rc == UNZ_OK) {
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(zf, &info, raw.data(), raw.size(), extra.data(), extra.size(), nullptr, 0) != UNZ_OK)
            return Failure(Status::DamagedEntry, "", "unreadable entry header");
        std::string_view stored(raw.data(), info.size_filename);
        Entry entry;
        if (stored.find('\0') != std::string_view::npos)
            return Failure(Status::UnsafeName, fs.DecodeEntryName(stored.substr(0, stored.find('\0')), false), "NUL in name");
        auto unicode = UnicodePathField(std::string_view(extra.data(), std::min<size_t>(info.size_file_extra, extra.size())), stored);
        if (unicode) entry.name = fs.DecodeEntryName(*unicode, true);
        else entry.name = fs.DecodeEntryName(stored, (info.flag & kUtf8NameFlag) != 0);
        if (NameProblem problem = CheckEntryName(entry.name); problem != NameProblem::None)
            return Failure(Status::UnsafeName, entry.name, NameProblemText(problem));
        for (char& c : entry.name)
            if (c == '/') c = '\\';
        if (info.flag & kEncryptedFlag) return Failure(Status::EncryptedEntry, entry.name, "encrypted");
        // Folders: the MS-DOS directory attribute, or a name ending in "/" as other systems store them.
        entry.folder = (info.external_fa & kDirectoryAttribute) != 0 || entry.name.back() == '\\';
        if (entry.folder && entry.name.back() != '\\') entry.name += '\\';
        // A path beyond the classic limit would fail half-way through the writes; refuse it now.
        if (path_room + Utf16Length(entry.name) >= kMaxPath) return Failure(Status::UnsafeName, entry.name, "path too long");
        const std::string key = fs.FoldCase(entry.name);
        if (!reserved.empty() && key.compare(0, reserved.size(), reserved) == 0)
            return Failure(Status::UnsafeName, entry.name, "inside the launcher's work folder");
        if (!seen.insert(key).second) return Failure(Status::UnsafeName, entry.name, "duplicate name");
        total += info.uncompressed_size;
        if (total > kMaxUnpackedTotal) return Failure(Status::DamagedEntry, entry.name, "unpacked size beyond the limit");
        entry.size = info.uncompressed_size;
        entry.crc = static_cast<uint32_t>(info.crc);
        entries.push_back(std::move(entry));
        rc = unzGoToNextFile(zf);
    }
    if (rc != UNZ_END_OF_LIST_OF_FILE) return Failure(Status::DamagedEntry, "", "broken central directory");
    // A file entry whose name is also a folder of another entry cannot be laid down; find it before writing.
    std::set<std::string> folders, files;
    for (const Entry& entry : entries) {
        std::string key = fs.FoldCase(entry.name);
        if (!entry.folder) files.insert(key);
        for (size_t pos = key.find('\\'); pos != std::string::npos; pos = key.find('\\', pos + 1))
            folders.insert(key.substr(0, pos));
    }
    for (const std::string& file : files)
        if (folders.count(file)) return Failure(Status::UnsafeName, file, "a file and a folder of the same name");
    return std::nullopt;
}

}  // namespace

Result Failure(Status status, std::string entry, std::string detail) {
    Result r;
    r.status = status;
    r.entry = std::move(entry);
    r.detail = std::move(detail);
    return r;
}

const char* StatusText(Status status) {
    switch (status) {
        case Status::Ok: return "unpacked";
        case Status::NotAnArchive: return "not a readable ZIP archive";
        case Status::EmptyArchive: return "archive holds no entries";
        case Status::UnsafeName: return "entry name not allowed";
        case Status::DamagedEntry: return "damaged entry";
        case Status::CannotCreateFolder: return "cannot create folder";
        case Status::CannotWriteFile: return "cannot write file";
        case Status::EncryptedEntry: return "encrypted entry";
        case Status::NoRoom: return "not enough free disk space";
        case Status::Busy: return "another install is under way";
        case Status::Untrusted: return "a staged file was refused";
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

std::unique_ptr<FolderLock> LockInstall(FileSystem& fs, const std::string& work_folder, bool& busy) {
    return fs.LockFolder(NormaliseFolder(work_folder) + std::string(kLockFile), busy);
}

Result UnzipToFolder(FileSystem& fs, std::string_view folder, const std::string& archive, std::string_view work_folder,
                     const UnpackProgress& progress) {
    void* opened = fs.OpenArchive(archive);
    if (!opened) return Failure(Status::NotAnArchive, "", "cannot open");
    ArchiveHandle handle(opened);
    InstallPaths paths;
    paths.folder = NormaliseFolder(folder);
    paths.work = NormaliseFolder(work_folder.empty() ? paths.folder + std::string(kWorkFolder) : std::string(work_folder));
    // Levels this run creates (the folder itself when it is new, the work folder) go again on failure.
    std::vector<std::string> created;
    for (const std::string& level : {paths.folder, paths.work}) {
        for (size_t pos = level.find('\\', 3); pos != std::string::npos; pos = level.find('\\', pos + 1))
            if (!fs.IsFolder(level.substr(0, pos + 1))) created.push_back(level.substr(0, pos + 1));
    }
    Result result;
    if (!MakePath(fs, paths.work)) {
        result = Failure(Status::CannotCreateFolder, paths.work, "");
    } else {
        bool busy = false;
        auto lock = LockInstall(fs, paths.work, busy);
        if (!lock) result = Failure(busy ? Status::Busy : Status::CannotWriteFile, paths.Lock(), "cannot take the install lock");
        else result = UnzipOpenedArchive(fs, paths, handle.release(), progress);
        // The archive is closed now: this process, which committed, settles its own install.
        if (result.status == Status::Ok) SettleCommitted(fs, paths);
    }
    if (result.status != Status::Ok)
        for (auto it = created.rbegin(); it != created.rend(); ++it) fs.RemoveFolder(*it);
    return result;
}

namespace {

// Removes whatever is at path (a link only as a link) and creates an empty folder there that is a real
// folder of its parent: nothing of an earlier run or of anybody else is staged into.
bool MakeFreshFolder(FileSystem& fs, const std::string& path) {
    if ((fs.IsFolder(path) || fs.FileExists(path)) && !fs.RemoveTree(path)) return false;
    return fs.CreateFolder(path) && fs.IsOwnFolder(path);
}

}  // namespace

std::optional<Result> PrepareStaging(FileSystem& fs, const InstallPaths& paths) {
    // The work folder must be the installation's own: a link there would carry every move elsewhere.
    if (!fs.IsOwnFolder(paths.work)) return Failure(Status::CannotWriteFile, paths.work, "not a real folder of the installation");
    // A journal left by an interrupted commit is settled before anything new is staged.
    switch (RecoverLocked(fs, paths)) {
    case Recovery::Failed: return Failure(Status::CannotWriteFile, paths.Journal(), "an earlier install is not settled");
    case Recovery::Pending:
    case Recovery::Busy: return Failure(Status::Busy, paths.Journal(), "an earlier install waits for the running program to end");
    default: break;
    }
    if (fs.IsFolder(paths.Rollback()) && !fs.RemoveTree(paths.Rollback()))
        return Failure(Status::CannotWriteFile, paths.Rollback(), "cannot remove what an earlier run left");
    if (!MakeFreshFolder(fs, paths.Stage())) {
        fs.RemoveFolder(paths.Stage());
        return Failure(Status::CannotWriteFile, paths.Stage(), "cannot make a fresh staging folder");
    }
    return std::nullopt;
}

Result CommitStaged(FileSystem& fs, const InstallPaths& paths, const std::vector<CommitFile>& staged,
                    const std::vector<std::string>& folders, const StagedCheck& check) {
    auto drop_work = [&] { fs.RemoveTree(paths.Stage()); };
    if (check)
        if (const auto refused = check(paths.Stage(), staged))
            return drop_work(), Failure(Status::Untrusted, refused->file, refused->why);
    const CommitPlan plan = PlanCommit(fs, paths, staged, folders);
    for (const CommitFile& file : plan.files)
        if (file.replaces && !fs.CanReplace(paths.folder + file.name))
            return drop_work(), Failure(Status::CannotWriteFile, paths.folder + file.name, "in use");
    Result result = Commit(fs, paths, plan);
    if (result.status != Status::Ok && result.detail.find("restore failed") == std::string::npos) drop_work();
    return result;
}

Result UnzipOpenedArchive(FileSystem& fs, const InstallPaths& paths, void* archive, const UnpackProgress& progress,
                          const StagedCheck& check) {
    ArchiveHandle handle(archive);
    if (!handle) return Failure(Status::NotAnArchive, "", "cannot open");
    auto zf = static_cast<unzFile>(handle.get());
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zf, &global) != UNZ_OK) return Failure(Status::NotAnArchive, "", "no central directory");
    if (global.number_entry == 0) return Failure(Status::EmptyArchive, "", "no entries");

    // Entries inside the work folder would land in the staging or rollback files of this very install.
    const std::string reserved =
        paths.work.compare(0, paths.folder.size(), paths.folder) == 0 ? fs.FoldCase(paths.work.substr(paths.folder.size())) : "";
    const size_t path_room = std::max(Utf16Length(paths.folder), Utf16Length(paths.Rollback()));
    std::vector<Entry> entries;
    if (auto failure = CheckDirectory(fs, zf, path_room, reserved, entries)) return *failure;
    unsigned long long total = 0;
    for (const Entry& entry : entries) total += entry.size;
    // Staged files take their full size on the installation's volume until the commit moves them in.
    if (const auto free = fs.FreeBytes(paths.folder); free && total > *free)
        return Failure(Status::NoRoom, "", std::to_string(total) + " bytes needed, " + std::to_string(*free) + " free");

    if (!MakePath(fs, paths.folder)) return Failure(Status::CannotCreateFolder, paths.folder, "");
    if (auto failure = PrepareStaging(fs, paths)) return *failure;
    auto drop_work = [&] { fs.RemoveTree(paths.Stage()); };

    // Stage: every entry decompressed once, straight into the staging folder, checked as it goes.
    std::vector<CommitFile> staged;
    std::vector<char> block(kStageBlock);
    unsigned long long done = 0;
    int rc = unzGoToFirstFile(zf);
    for (const Entry& entry : entries) {
        if (rc != UNZ_OK) return drop_work(), Failure(Status::DamagedEntry, entry.name, "archive changed while unpacking");
        const std::string target = paths.Stage() + entry.name;
        if (entry.folder) {
            if (!MakePath(fs, target)) return drop_work(), Failure(Status::CannotCreateFolder, target, "");
        } else {
            if (!MakePath(fs, FolderPart(target))) return drop_work(), Failure(Status::CannotCreateFolder, FolderPart(target), "");
            auto out = fs.CreateOutput(target);
            if (!out) return drop_work(), Failure(Status::CannotWriteFile, paths.folder + entry.name, "cannot create");
            bool write_failed = false;
            auto problem = ReadEntry(zf, entry.size, block.data(), kStageBlock, [&](const char* data, size_t size) {
                write_failed = !out->Write(data, size);
                done += size;
                if (progress) progress(done, total);
                return !write_failed;
            });
            const bool closed = out->Close();
            if (write_failed || !closed) return drop_work(), Failure(Status::CannotWriteFile, paths.folder + entry.name, "write failed");
            if (problem) return drop_work(), Failure(Status::DamagedEntry, entry.name, *problem);
            staged.push_back({entry.name, false, FileSummary{entry.size, entry.crc}, false});
        }
        rc = unzGoToNextFile(zf);
    }
    std::vector<std::string> folders;
    for (const Entry& entry : entries)
        if (entry.folder) folders.push_back(entry.name);
    return CommitStaged(fs, paths, staged, folders, check);
}

}  // namespace vantorix::unzip
