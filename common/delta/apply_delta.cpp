#include "common/delta/apply_delta.h"

#include <unzip.h>
#include <zlib.h>

#include <memory>
#include <new>
#include <set>

#include "common/delta/zstd_frame.h"
#include "common/unzip/paths.h"
#include "common/unzip/zip_entry.h"

namespace vantorix::delta {
namespace {

using unzip::FileSystem;
using unzip::InstallPaths;

constexpr unsigned long kEncryptedFlag = 0x1;
constexpr size_t kWriteBlock = 64 * 1024;
constexpr unsigned kReadBlock = 64 * 1024;

Result Failure(Status status, std::string file, std::string detail) {
    Result r;
    r.status = status;
    r.file = std::move(file);
    r.detail = std::move(detail);
    return r;
}

std::nullopt_t Note(std::string* problem, const char* text) {
    *problem = text;
    return std::nullopt;
}

// The whole member of that exact name, its CRC checked; the reason in *problem otherwise.
std::optional<std::string> ReadMember(unzFile zf, const std::string& name, uint64_t max_size, std::string* problem) {
    if (unzLocateFile(zf, name.c_str(), 1) != UNZ_OK) return Note(problem, "missing from the package");
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zf, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return Note(problem, "unreadable member header");
    if (info.flag & kEncryptedFlag) return Note(problem, "encrypted member");
    if (info.uncompressed_size > max_size) return Note(problem, "member larger than allowed");
    std::string data;
    try {
        data.reserve(static_cast<size_t>(info.uncompressed_size));
    } catch (const std::bad_alloc&) {
        return Note(problem, "not enough memory for the member");
    }
    auto block = std::make_unique<char[]>(kReadBlock);
    const auto broken = unzip::ReadEntry(zf, info.uncompressed_size, block.get(), kReadBlock, [&](const char* p, size_t n) {
        data.append(p, n);
        return true;
    });
    if (broken) {
        *problem = "member: " + *broken;
        return std::nullopt;
    }
    return data;
}

// A listed path in the installation's form ("\" separators), or the reason it may not be written.
std::optional<std::string> InstallationPath(FileSystem& fs, const std::string& listed, const std::string& reserved,
                                            std::set<std::string>& seen, std::string* problem) {
    if (auto p = unzip::CheckEntryName(listed); p != unzip::NameProblem::None) return Note(problem, unzip::NameProblemText(p));
    if (listed.back() == '/' || listed.back() == '\\') return Note(problem, "a folder, not a file");
    std::string path = listed;
    for (char& c : path)
        if (c == '/') c = '\\';
    const std::string key = fs.FoldCase(path);
    if (!reserved.empty() && key.compare(0, reserved.size(), reserved) == 0) return Note(problem, "inside the work folder");
    if (!seen.insert(key).second) return Note(problem, "listed twice");
    return path;
}

// Everything the delta does, in the installation's terms.
struct Plan {
    DeltaIndex index;
    std::vector<std::string> paths;  // per index entry, "\" separators
    uint64_t total = 0;              // bytes to check plus bytes to make, for the progress
};

class Progress {
public:
    Progress(const ApplyProgress& report, uint64_t total) : report_(report), total_(total) {}
    void Add(uint64_t n) {
        done_ += n;
        if (report_) report_(done_, total_);
    }
    uint64_t done() const { return done_; }
    void Set(uint64_t done) {
        done_ = done;
        if (report_) report_(done_, total_);
    }

private:
    const ApplyProgress& report_;
    uint64_t total_, done_ = 0;
};

std::optional<Result> ReadPlan(FileSystem& fs, unzFile zf, const InstallPaths& paths, Plan& plan) {
    std::string problem;
    auto text = ReadMember(zf, std::string(kIndexMember), kMaxIndexBytes, &problem);
    if (!text) return Failure(Status::NotADelta, std::string(kIndexMember), problem);
    auto index = ParseIndex(*text, &problem);
    if (!index) return Failure(Status::NotADelta, std::string(kIndexMember), problem);
    plan.index = std::move(*index);
    // The work folder holds this very install's staging and rollback files.
    const std::string reserved = paths.work.compare(0, paths.folder.size(), paths.folder) == 0
                                     ? fs.FoldCase(paths.work.substr(paths.folder.size()))
                                     : "";
    std::set<std::string> seen;
    for (const DeltaFile& file : plan.index.files) {
        auto path = InstallationPath(fs, file.path, reserved, seen, &problem);
        if (!path) return Failure(Status::UnsafePath, file.path, problem);
        plan.paths.push_back(std::move(*path));
        if (file.action != Action::Whole) plan.total += file.action == Action::Keep ? file.result.size : file.source.size;
        if (file.action != Action::Keep) plan.total += file.result.size;
    }
    return std::nullopt;
}

// The installed file matches `expected`, else the failure that says how it does not.
std::optional<Result> CheckInstalled(FileSystem& fs, Sha256Provider& sha256, const std::string& target,
                                     const FileState& expected, Progress& progress) {
    if (!fs.FileExists(target)) return Failure(Status::SourceMissing, target, "not installed");
    auto bytes = fs.ReadWholeFile(target);
    if (!bytes) return Failure(Status::SourceMissing, target, "cannot be read");
    if (bytes->size() != expected.size)
        return Failure(Status::SourceMismatch, target, std::to_string(bytes->size()) + " bytes, " + std::to_string(expected.size) + " expected");
    auto digest = DigestOf(sha256, *bytes, [&](size_t n) { progress.Add(n); });
    if (!digest) return Failure(Status::SourceMissing, target, "cannot be hashed");
    if (*digest != expected.sha256) return Failure(Status::SourceMismatch, target, "content differs");
    return std::nullopt;
}

bool WriteStaged(FileSystem& fs, const std::string& target, std::string_view bytes) {
    if (!unzip::MakePath(fs, unzip::FolderPart(target))) return false;
    auto out = fs.CreateOutput(target);
    if (!out) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size(); done += kWriteBlock)
        ok = out->Write(bytes.data() + done, std::min(kWriteBlock, bytes.size() - done));
    return out->Close() && ok;
}

// Decodes, checks and stages one file the delta writes.
std::optional<Result> BuildFile(FileSystem& fs, Sha256Provider& sha256, unzFile zf, const InstallPaths& paths,
                                const DeltaFile& file, const std::string& path, Progress& progress,
                                unzip::FileSummary& summary) {
    const std::string target = paths.folder + path;
    std::string problem;
    // A frame is never much larger than what it makes; the bound keeps a hostile member from taking the memory.
    auto frame = ReadMember(zf, file.Member(), file.result.size + file.result.size / 8 + (1u << 16), &problem);
    if (!frame) return Failure(Status::DamagedData, target, problem);
    std::optional<std::string> source;
    if (file.action == Action::Patch) {
        source = fs.ReadWholeFile(target);
        if (!source) return Failure(Status::SourceMissing, target, "cannot be read");
    }
    std::string made;
    const uint64_t before = progress.done();
    auto decode_problem = DecodeFrame(*frame, source ? std::string_view(*source) : std::string_view(), file.result.size, made,
                                      [&](uint64_t n) { progress.Set(before + n / 2); });
    source.reset();
    frame.reset();
    if (decode_problem) return Failure(Status::DamagedData, target, *decode_problem);
    progress.Set(before + file.result.size / 2);
    auto digest = DigestOf(sha256, made, [&](size_t n) { progress.Add(n - n / 2); });
    if (!digest) return Failure(Status::CannotWrite, target, "cannot be hashed");
    if (*digest != file.result.sha256) return Failure(Status::ResultMismatch, target, "built file differs from the release's");
    progress.Set(before + file.result.size);
    if (!WriteStaged(fs, paths.Stage() + path, made)) return Failure(Status::CannotWrite, target, "cannot stage");
    // What the journal records of the staged file, so that a later start can tell it arrived whole.
    summary.size = made.size();
    summary.crc = static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(made.data()), made.size()));
    return std::nullopt;
}

}  // namespace

const char* StatusText(Status status) {
    switch (status) {
        case Status::Ok: return "applied";
        case Status::NotADelta: return "not a readable delta package";
        case Status::UnsafePath: return "path not allowed";
        case Status::SourceMissing: return "installed file missing";
        case Status::SourceMismatch: return "installed file differs from the delta's";
        case Status::DamagedData: return "damaged delta data";
        case Status::ResultMismatch: return "patched file differs from the release's";
        case Status::NoRoom: return "not enough free disk space";
        case Status::CannotWrite: return "cannot write file";
        case Status::Untrusted: return "a built file was refused";
    }
    return "?";
}

bool FallsBackToFullArchive(Status status) {
    return status != Status::Ok && status != Status::NoRoom && status != Status::Untrusted;
}

std::optional<std::string> PackageTargetVersion(FileSystem& fs, const std::string& package) {
    unzip::ArchiveHandle handle(fs.OpenArchive(package));
    if (!handle) return std::nullopt;
    std::string problem;
    const auto text = ReadMember(static_cast<unzFile>(handle.get()), std::string(kIndexMember), kMaxIndexBytes, &problem);
    const auto index = text ? ParseIndex(*text, &problem) : std::nullopt;
    if (!index) return std::nullopt;
    return index->to_version;
}

Result StageDelta(FileSystem& fs, Sha256Provider& sha256, const InstallPaths& paths, const std::string& package,
                  const ApplyProgress& report) {
    unzip::ArchiveHandle handle(fs.OpenArchive(package));
    if (!handle) return Failure(Status::NotADelta, "", "cannot open");
    auto zf = static_cast<unzFile>(handle.get());
    Plan plan;
    if (auto failure = ReadPlan(fs, zf, paths, plan)) return *failure;
    Progress progress(report, plan.total);

    // Every file the delta relies on, before anything is built.
    uint64_t made_total = 0;
    for (size_t i = 0; i < plan.index.files.size(); ++i) {
        const DeltaFile& file = plan.index.files[i];
        if (file.action != Action::Keep) made_total += file.result.size;
        if (file.action == Action::Whole) continue;
        if (auto failure = CheckInstalled(fs, sha256, paths.folder + plan.paths[i],
                                          file.action == Action::Keep ? file.result : file.source, progress))
            return *failure;
    }
    // Staged files take their full size on the installation's volume until the commit moves them in.
    if (const auto free = fs.FreeBytes(paths.folder); free && made_total > *free)
        return Failure(Status::NoRoom, "", std::to_string(made_total) + " bytes needed, " + std::to_string(*free) + " free");

    Result result;
    result.status = Status::Ok;
    for (size_t i = 0; i < plan.index.files.size(); ++i) {
        const DeltaFile& file = plan.index.files[i];
        if (file.action == Action::Keep) continue;
        unzip::FileSummary summary;
        if (auto failure = BuildFile(fs, sha256, zf, paths, file, plan.paths[i], progress, summary)) {
            fs.RemoveTree(paths.Stage());
            return *failure;
        }
        result.staged.push_back({plan.paths[i], false, summary, false});
    }
    return result;
}

Result ApplyDelta(FileSystem& fs, Sha256Provider& sha256, std::string_view folder, const std::string& package,
                  std::string_view work_folder, const ApplyProgress& progress, const unzip::StagedCheck& check) {
    InstallPaths paths;
    paths.folder = unzip::NormaliseFolder(folder);
    paths.work = unzip::NormaliseFolder(work_folder.empty() ? paths.folder + std::string(unzip::kWorkFolder) : std::string(work_folder));
    if (!fs.IsFolder(paths.folder)) return Failure(Status::SourceMissing, paths.folder, "no installation");
    if (!unzip::MakePath(fs, paths.work)) return Failure(Status::CannotWrite, paths.work, "cannot create the work folder");
    bool busy = false;
    const auto lock = unzip::LockInstall(fs, paths.work, busy);
    if (!lock) return Failure(Status::CannotWrite, paths.Lock(), busy ? "another install is running" : "cannot take the install lock");
    if (auto failure = unzip::PrepareStaging(fs, paths)) return Failure(Status::CannotWrite, failure->entry, failure->detail);
    Result staged = StageDelta(fs, sha256, paths, package, progress);
    if (staged.status != Status::Ok) {
        fs.RemoveTree(paths.Stage());
        return staged;
    }
    const unzip::Result committed = unzip::CommitStaged(fs, paths, staged.staged, {}, check);
    if (committed.status == unzip::Status::Untrusted) return Failure(Status::Untrusted, committed.entry, committed.detail);
    if (committed.status != unzip::Status::Ok) return Failure(Status::CannotWrite, committed.entry, committed.detail);
    // The commit's order: the client last.
    Result result;
    result.status = Status::Ok;
    for (const unzip::CommitFile& file : unzip::PlanCommit(fs, paths, staged.staged).files) result.committed.push_back(file.name);
    // This process committed: it settles its own install (the package is not named in the journal; its
    // caller removes it, and a leftover package of the installed version goes at the next start).
    unzip::SettleCommitted(fs, paths);
    return result;
}

}  // namespace vantorix::delta
