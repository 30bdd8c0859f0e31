#include "common/unzip/install_commit.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <vector>

#include "common/unzip/paths.h"

namespace vantorix::unzip {
namespace {

// The first format ("vantorix-install 1") listed folders and files only; recovery still reads it.
constexpr std::string_view kJournalHeaderV1 = "vantorix-install 1\n";
constexpr std::string_view kJournalHeader = "vantorix-install 2\n";
constexpr std::string_view kJournalEnd = "end\n";

bool Starts(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// The archive's name in the work folder: one plain file name, nothing that reaches elsewhere.
bool IsPlainFileName(std::string_view name) {
    return !name.empty() && name.find_first_of("\\/") == std::string_view::npos && CheckEntryName(name) == NameProblem::None;
}

// Moves the running program's file out of the way into the staging folder: it cannot be replaced or
// removed while it runs, but it can be renamed.
bool MoveRunningAside(FileSystem& fs, const InstallPaths& paths, const std::string& name) {
    const std::string aside = paths.Stage() + name;
    return MakePath(fs, FolderPart(aside)) && fs.MoveOver(paths.folder + name, aside);
}

// Puts every replaced file back and removes every new file and folder, in the reverse of the commit.
// Deferred files were never moved.
bool RollBack(FileSystem& fs, const InstallPaths& paths, const CommitPlan& plan) {
    bool restored = true;
    for (auto it = plan.files.rbegin(); it != plan.files.rend(); ++it) {
        if (it->deferred) continue;
        const std::string target = paths.folder + it->name, kept = paths.Rollback() + it->name;
        if (it->replaces) {
            // Not in the rollback folder: the old file never left its place.
            if (!fs.FileExists(kept)) continue;
            // A journal of the first format moved the running program's own file too: the program that
            // runs now is the new one, and goes aside so that the old one can return.
            if (fs.IsRunningProgram(target) && !MoveRunningAside(fs, paths, it->name)) restored = false;
            if (!fs.MoveOver(kept, target)) restored = false;
        } else if (!fs.FileExists(paths.Stage() + it->name) && fs.FileExists(target)) {
            // Moved in by the commit (a move leaves it in exactly one of the two places).
            if (fs.IsRunningProgram(target)) {
                if (!MoveRunningAside(fs, paths, it->name)) restored = false;
            } else {
                fs.RemoveFile(target);
            }
            if (fs.FileExists(target)) restored = false;
        }
    }
    for (auto it = plan.new_folders.rbegin(); it != plan.new_folders.rend(); ++it)
        if (fs.IsFolder(paths.folder + *it) && !fs.RemoveFolder(paths.folder + *it)) restored = false;
    return restored;
}

// Removes the work files; the journal goes after the folders and the archive it describes, the mark last.
// The rollback copy of a file that is still running (the old launcher of a step that moved its own image
// aside) cannot be removed: it moves into the retired folder, over whatever an earlier install left there.
void RetireRunningCopies(FileSystem& fs, const InstallPaths& paths, const CommitPlan& plan) {
    for (const CommitFile& file : plan.files) {
        const std::string kept = paths.Rollback() + file.name;
        if (!file.replaces || !fs.IsRunningProgram(kept)) continue;
        const std::string retired = paths.Retired() + file.name;
        if (MakePath(fs, FolderPart(retired))) fs.MoveOver(kept, retired);
    }
}

void CleanUp(FileSystem& fs, const InstallPaths& paths, const std::string& archive = {}, const CommitPlan* plan = nullptr) {
    fs.RemoveTree(paths.Retired());
    if (plan) RetireRunningCopies(fs, paths, *plan);
    fs.RemoveTree(paths.Rollback());
    fs.RemoveTree(paths.Stage());
    if (!archive.empty()) fs.RemoveFile(paths.work + archive);
    fs.RemoveFile(paths.Journal());
    fs.RemoveFile(paths.DoneMark());
}

// A deferred file still waits in the staging folder.
bool DeferredWaits(FileSystem& fs, const InstallPaths& paths, const CommitPlan& plan) {
    for (const CommitFile& file : plan.files)
        if (file.deferred && fs.FileExists(paths.Stage() + file.name)) return true;
    return false;
}

// Every committed file holds what was staged. Files of a journal of the first format carry no summary
// and count as whole. *broken names the first one that does not.
bool TreeIsWhole(FileSystem& fs, const InstallPaths& paths, const CommitPlan& plan, std::string* broken = nullptr) {
    for (const CommitFile& file : plan.files) {
        if (!file.summary) continue;
        const auto found = fs.Summarize(paths.folder + file.name);
        if (!found || !(*found == *file.summary)) {
            if (broken) *broken = file.name;
            return false;
        }
    }
    return true;
}

enum class Ownership { Ours, Foreign, Unreadable };

// Bytes a disk lost after it had acknowledged them read back as zeros (or the file as empty): no setup
// writes such a file where a program file belongs, so it is the install's own, damaged.
bool LostData(const FileSummary& found) {
    if (found.size == 0) return true;
    static const std::vector<Bytef> zeros(1 << 16, 0);
    uLong crc = crc32(0L, Z_NULL, 0);
    for (unsigned long long left = found.size; left > 0;) {
        const uInt n = static_cast<uInt>(std::min<unsigned long long>(left, zeros.size()));
        crc = crc32(crc, zeros.data(), n);
        left -= n;
    }
    return static_cast<uint32_t>(crc) == found.crc;
}

// Whether a rollback may act on every file of the journal: each one in place is what the install put
// there (the staged bytes) or what it replaced (the copy in the rollback folder), or the install never
// touched it, or the disk lost its bytes (zeros). Anything else came afterwards (a setup repair or
// upgrade) and must stand. A journal of the first format records no summaries and cannot be judged: it
// is rolled back as before.
Ownership JudgeFiles(FileSystem& fs, const InstallPaths& paths, const CommitPlan& plan, std::string* foreign) {
    for (const CommitFile& file : plan.files) {
        if (file.deferred || !file.summary) continue;
        const std::string target = paths.folder + file.name, kept = paths.Rollback() + file.name;
        if (!fs.FileExists(target)) continue;  // moved aside and not yet replaced, or lost with the disk
        // A replaced file whose old copy never reached the rollback folder was never touched.
        if (file.replaces && !fs.FileExists(kept)) continue;
        const auto found = fs.Summarize(target);
        if (!found) return Ownership::Unreadable;
        if (*found == *file.summary) continue;
        if (file.replaces) {
            const auto old = fs.Summarize(kept);
            if (!old) return Ownership::Unreadable;
            if (*found == *old) continue;
        }
        if (LostData(*found)) continue;
        if (foreign) *foreign = file.name;
        return Ownership::Foreign;
    }
    return Ownership::Ours;
}

std::string Hex8(uint32_t value) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(value));
    return digits;
}

// "<digits>" as an unsigned number; nullopt for anything else.
std::optional<unsigned long long> Decimal(std::string_view text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    unsigned long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

std::optional<uint32_t> Hex32(std::string_view text) {
    if (text.size() != 8) return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return value;
}

// Splits off the text up to the next tab.
std::string_view Field(std::string_view& rest) {
    size_t tab = rest.find('\t');
    std::string_view field = rest.substr(0, tab);
    rest = tab == std::string_view::npos ? std::string_view() : rest.substr(tab + 1);
    return field;
}

}  // namespace

CommitPlan PlanCommit(FileSystem& fs, const InstallPaths& paths, const std::vector<CommitFile>& staged,
                      const std::vector<std::string>& folders) {
    CommitPlan plan;
    plan.archive = paths.archive;
    std::set<std::string> known;
    // Every level of the name's folder part that is not there yet, parents first.
    auto add_levels = [&](const std::string& name) {
        for (size_t pos = name.find('\\'); pos != std::string::npos; pos = name.find('\\', pos + 1)) {
            std::string folder = name.substr(0, pos + 1);
            if (!known.insert(fs.FoldCase(folder)).second) continue;
            if (!fs.IsFolder(paths.folder + folder)) plan.new_folders.push_back(folder);
        }
    };
    for (const std::string& folder : folders) add_levels(folder);
    const std::string last = fs.FoldCase(kCommittedLast);
    std::vector<CommitFile> ordered = staged;
    std::stable_partition(ordered.begin(), ordered.end(), [&](const CommitFile& f) { return fs.FoldCase(f.name) != last; });
    for (CommitFile file : ordered) {
        add_levels(file.name);
        const std::string target = paths.folder + file.name;
        file.replaces = fs.FileExists(target);
        file.deferred = file.replaces && fs.DefersRunningProgram() && fs.IsRunningProgram(target);
        plan.files.push_back(std::move(file));
    }
    return plan;
}

std::string JournalText(const CommitPlan& plan) {
    std::string text(kJournalHeader);
    if (!plan.archive.empty()) text += "archive\t" + plan.archive + "\n";
    for (const std::string& folder : plan.new_folders) text += "folder\t" + folder + "\n";
    for (const CommitFile& file : plan.files) {
        const FileSummary summary = file.summary.value_or(FileSummary{});
        text += std::string("file\t") + (file.replaces ? "1" : "0") + "\t" + std::to_string(summary.size) + "\t" +
                Hex8(summary.crc) + "\t" + file.name + "\n";
    }
    for (const CommitFile& file : plan.files)
        if (file.deferred) text += "deferred\t" + file.name + "\n";
    text += kJournalEnd;
    return text;
}

std::optional<CommitPlan> ParseJournal(std::string_view text) {
    const bool first_format = Starts(text, kJournalHeaderV1);
    if (!first_format && !Starts(text, kJournalHeader)) return std::nullopt;
    if (text.size() < kJournalEnd.size() || text.substr(text.size() - kJournalEnd.size()) != kJournalEnd) return std::nullopt;
    text.remove_prefix(kJournalHeader.size());
    text.remove_suffix(kJournalEnd.size());
    CommitPlan plan;
    while (!text.empty()) {
        size_t end = text.find('\n');
        if (end == std::string_view::npos) return std::nullopt;
        std::string_view rest = text.substr(0, end);
        text.remove_prefix(end + 1);
        const std::string_view kind = Field(rest);
        if (kind == "folder") {
            plan.new_folders.emplace_back(rest);
        } else if (kind == "file") {
            CommitFile file;
            const std::string_view replaces = Field(rest);
            if (replaces != "0" && replaces != "1") return std::nullopt;
            file.replaces = replaces == "1";
            if (!first_format) {
                const auto size = Decimal(Field(rest));
                const auto crc = Hex32(Field(rest));
                if (!size || !crc) return std::nullopt;
                file.summary = FileSummary{*size, *crc};
            }
            file.name = std::string(rest);
            if (file.name.empty()) return std::nullopt;
            plan.files.push_back(std::move(file));
        } else if (kind == "deferred" && !first_format) {
            auto it = std::find_if(plan.files.begin(), plan.files.end(), [&](const CommitFile& f) { return f.name == rest; });
            if (it == plan.files.end() || !it->replaces) return std::nullopt;
            it->deferred = true;
        } else if (kind == "archive" && !first_format && plan.archive.empty() && IsPlainFileName(rest)) {
            plan.archive = std::string(rest);
        } else {
            return std::nullopt;
        }
    }
    // A journal naming a path outside the installation is not ours: refuse it rather than act on it.
    for (const CommitFile& file : plan.files)
        if (CheckEntryName(file.name) != NameProblem::None) return std::nullopt;
    for (const std::string& folder : plan.new_folders)
        if (CheckEntryName(folder) != NameProblem::None) return std::nullopt;
    return plan;
}

Result Commit(FileSystem& fs, const InstallPaths& paths, const CommitPlan& plan) {
    auto undo = [&](std::string entry, std::string detail) {
        bool restored = RollBack(fs, paths, plan);
        if (restored) {
            CleanUp(fs, paths);
        } else {
            detail += "; restore failed";  // the journal stays: the next start tries again
        }
        return Failure(Status::CannotWriteFile, std::move(entry), std::move(detail));
    };
    if (!fs.WriteDurably(paths.Journal(), JournalText(plan))) {
        fs.RemoveFile(paths.Journal());
        return Failure(Status::CannotWriteFile, paths.Journal(), "cannot write the journal");
    }
    for (const std::string& folder : plan.new_folders)
        if (!fs.CreateFolder(paths.folder + folder)) return undo(paths.folder + folder, "cannot create folder");
    Result result;
    result.status = Status::Ok;
    for (const CommitFile& file : plan.files) {
        result.files.push_back(file.name);
        if (file.deferred) {
            result.deferred.push_back(file.name);
            continue;
        }
        const std::string target = paths.folder + file.name;
        if (file.replaces) {
            const std::string kept = paths.Rollback() + file.name;
            if (!MakePath(fs, FolderPart(kept)) || !fs.MoveOver(target, kept)) return undo(target, "cannot move aside");
        }
        if (!fs.MoveOver(paths.Stage() + file.name, target)) return undo(target, "cannot replace");
        ++result.files_written;
    }
    if (!fs.WriteDurably(paths.DoneMark(), "done\n")) return undo(paths.DoneMark(), "cannot mark the commit");
    // What is left of the staging folder is empty folders, unless a deferred file waits there.
    if (result.deferred.empty()) fs.RemoveTree(paths.Stage());
    return result;
}

bool HasWorkFiles(FileSystem& fs, const InstallPaths& paths) {
    return fs.FileExists(paths.Journal()) || fs.FileExists(paths.DoneMark()) || fs.IsFolder(paths.Stage()) ||
           fs.IsFolder(paths.Rollback());
}

Recovery RecoverLocked(FileSystem& fs, const InstallPaths& paths, std::string* file) {
    if (!fs.FileExists(paths.Journal())) {
        // Staging cut short, or a clean-up cut after the journal went: only work files are left.
        const bool leftovers = fs.IsFolder(paths.Stage()) || fs.IsFolder(paths.Rollback()) || fs.FileExists(paths.DoneMark());
        if (leftovers) CleanUp(fs, paths);
        return Recovery::Nothing;
    }
    const bool committed = fs.FileExists(paths.DoneMark());
    auto text = fs.ReadWholeFile(paths.Journal());
    if (!text) return Recovery::Failed;
    auto plan = ParseJournal(*text);
    if (!plan) {
        // Cut short while it was written (no step of the commit had begun), or marked done by the
        // first format, which wrote nothing after the mark but its clean-up.
        CleanUp(fs, paths);
        return committed ? Recovery::Finished : Recovery::RolledBack;
    }
    if (committed) {
        if (DeferredWaits(fs, paths, *plan)) return Recovery::Pending;
        if (TreeIsWhole(fs, paths, *plan, file)) {
            CleanUp(fs, paths, plan->archive, &*plan);
            return Recovery::Finished;
        }
        // A committed file is not what was staged: the disk lost it, or something changed it since. The
        // old tree is still whole in the rollback folder; the archive stays, so that the update can be
        // offered again.
    }
    switch (JudgeFiles(fs, paths, *plan, file)) {
    case Ownership::Unreadable: return Recovery::Failed;
    case Ownership::Foreign:
        // The installation was repaired or upgraded since: its files stand, this journal is history.
        CleanUp(fs, paths, plan->archive);
        return Recovery::Discarded;
    case Ownership::Ours: break;
    }
    if (!RollBack(fs, paths, *plan)) return Recovery::Failed;
    CleanUp(fs, paths);
    return Recovery::RolledBack;
}

Recovery RecoverInstall(FileSystem& fs, const InstallPaths& paths, std::string* file) {
    // Nothing to settle needs no lock: a process that may not write the work folder (a standard user's
    // launcher) has nothing to report at an ordinary start.
    if (!fs.IsFolder(paths.work)) return Recovery::Nothing;
    bool busy = false;
    if (!HasWorkFiles(fs, paths)) {
        // A lock file its killed holder left is no work file: taken and let go here it goes, where this
        // process may take it at all.
        if (fs.FileExists(paths.Lock())) LockInstall(fs, paths.work, busy);
        return Recovery::Nothing;
    }
    auto lock = LockInstall(fs, paths.work, busy);
    if (!lock) return busy ? Recovery::Busy : Recovery::NoLock;
    return RecoverLocked(fs, paths, file);
}

Recovery SettleCommitted(FileSystem& fs, const InstallPaths& paths) {
    if (!fs.FileExists(paths.Journal()) || !fs.FileExists(paths.DoneMark())) return Recovery::Nothing;
    auto text = fs.ReadWholeFile(paths.Journal());
    auto plan = text ? ParseJournal(*text) : std::nullopt;
    if (!plan) return Recovery::Failed;
    if (DeferredWaits(fs, paths, *plan)) return Recovery::Pending;
    if (!TreeIsWhole(fs, paths, *plan)) return Recovery::Failed;
    CleanUp(fs, paths, plan->archive, &*plan);
    return Recovery::Finished;
}

Recovery FinishDeferred(FileSystem& fs, const InstallPaths& paths) {
    if (!fs.IsFolder(paths.work)) return Recovery::Nothing;
    bool busy = false;
    auto lock = LockInstall(fs, paths.work, busy);
    if (!lock) return busy ? Recovery::Busy : Recovery::Failed;
    if (!fs.FileExists(paths.Journal()) || !fs.FileExists(paths.DoneMark())) return Recovery::Nothing;
    auto text = fs.ReadWholeFile(paths.Journal());
    auto plan = text ? ParseJournal(*text) : std::nullopt;
    if (!plan) return Recovery::Nothing;
    for (const CommitFile& file : plan->files) {
        const std::string staged = paths.Stage() + file.name;
        if (!file.deferred || !fs.FileExists(staged)) continue;
        // Only what was staged and checked goes in.
        const auto found = fs.Summarize(staged);
        if (!found || (file.summary && !(*found == *file.summary))) return Recovery::Failed;
        if (!fs.MoveOver(staged, paths.folder + file.name)) return Recovery::Failed;
    }
    // The install is complete now: its work files go here, not at some later start. A tree that is not
    // whole keeps its journal for the next start to judge.
    SettleCommitted(fs, paths);
    return Recovery::Finished;
}

}  // namespace vantorix::unzip
