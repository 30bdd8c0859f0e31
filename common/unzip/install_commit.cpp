#include "common/unzip/install_commit.h"

#include <algorithm>
#include <set>

#include "common/unzip/paths.h"

namespace vantorix::unzip {
namespace {

constexpr std::string_view kJournalHeader = "vantorix-install 1\n";
constexpr std::string_view kJournalEnd = "end\n";

// Puts every replaced file back and removes every new file and folder, in the reverse of the commit.
bool RollBack(FileSystem& fs, const InstallPaths& paths, const CommitPlan& plan) {
    bool restored = true;
    for (auto it = plan.files.rbegin(); it != plan.files.rend(); ++it) {
        const std::string target = paths.folder + it->name, kept = paths.Rollback() + it->name;
        if (it->replaces) {
            // Not in the rollback folder: the old file never left its place.
            if (fs.FileExists(kept) && !fs.MoveOver(kept, target)) restored = false;
        } else if (!fs.FileExists(paths.Stage() + it->name) && fs.FileExists(target)) {
            // Moved in by the commit (a move leaves it in exactly one of the two places).
            fs.RemoveFile(target);
            if (fs.FileExists(target)) restored = false;
        }
    }
    for (auto it = plan.new_folders.rbegin(); it != plan.new_folders.rend(); ++it)
        if (fs.IsFolder(paths.folder + *it) && !fs.RemoveFolder(paths.folder + *it)) restored = false;
    return restored;
}

// Removes the work files; the journal goes after the folders it describes, the mark last.
void CleanUp(FileSystem& fs, const InstallPaths& paths) {
    fs.RemoveTree(paths.Rollback());
    fs.RemoveTree(paths.Stage());
    fs.RemoveFile(paths.Journal());
    fs.RemoveFile(paths.DoneMark());
}

}  // namespace

CommitPlan PlanCommit(FileSystem& fs, const InstallPaths& paths, const std::vector<std::string>& files,
                      const std::vector<std::string>& folders) {
    CommitPlan plan;
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
    std::vector<std::string> ordered = files;
    std::stable_partition(ordered.begin(), ordered.end(), [&](const std::string& n) { return fs.FoldCase(n) != last; });
    for (const std::string& name : ordered) {
        add_levels(name);
        plan.files.push_back({name, fs.FileExists(paths.folder + name)});
    }
    return plan;
}

std::string JournalText(const CommitPlan& plan) {
    std::string text(kJournalHeader);
    for (const std::string& folder : plan.new_folders) text += "folder\t" + folder + "\n";
    for (const CommitFile& file : plan.files) text += std::string("file\t") + (file.replaces ? "1" : "0") + "\t" + file.name + "\n";
    text += kJournalEnd;
    return text;
}

std::optional<CommitPlan> ParseJournal(std::string_view text) {
    if (text.substr(0, kJournalHeader.size()) != kJournalHeader) return std::nullopt;
    if (text.size() < kJournalEnd.size() || text.substr(text.size() - kJournalEnd.size()) != kJournalEnd) return std::nullopt;
    text.remove_prefix(kJournalHeader.size());
    text.remove_suffix(kJournalEnd.size());
    CommitPlan plan;
    while (!text.empty()) {
        size_t end = text.find('\n');
        if (end == std::string_view::npos) return std::nullopt;
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        if (line.substr(0, 7) == "folder\t") {
            plan.new_folders.emplace_back(line.substr(7));
        } else if (line.size() > 7 && line.substr(0, 5) == "file\t" && (line[5] == '0' || line[5] == '1') && line[6] == '\t') {
            plan.files.push_back({std::string(line.substr(7)), line[5] == '1'});
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
        fs.RemoveTree(paths.Stage());
        return Failure(Status::CannotWriteFile, paths.Journal(), "cannot write the journal");
    }
    for (const std::string& folder : plan.new_folders)
        if (!fs.CreateFolder(paths.folder + folder)) return undo(paths.folder + folder, "cannot create folder");
    Result result;
    result.status = Status::Ok;
    for (const CommitFile& file : plan.files) {
        const std::string target = paths.folder + file.name;
        if (file.replaces) {
            const std::string kept = paths.Rollback() + file.name;
            if (!MakePath(fs, FolderPart(kept)) || !fs.MoveOver(target, kept)) return undo(target, "cannot move aside");
        }
        if (!fs.MoveOver(paths.Stage() + file.name, target)) return undo(target, "cannot replace");
        ++result.files_written;
    }
    if (!fs.WriteDurably(paths.DoneMark(), "done\n")) return undo(paths.DoneMark(), "cannot mark the commit");
    CleanUp(fs, paths);
    return result;
}

Recovery RecoverInstall(FileSystem& fs, const InstallPaths& paths) {
    const bool journal = fs.FileExists(paths.Journal());
    if (!journal) {
        // Staging cut short, or a clean-up cut after the journal went: only work files are left.
        const bool leftovers = fs.IsFolder(paths.Stage()) || fs.IsFolder(paths.Rollback()) || fs.FileExists(paths.DoneMark());
        if (leftovers) CleanUp(fs, paths);
        return Recovery::Nothing;
    }
    if (fs.FileExists(paths.DoneMark())) {
        CleanUp(fs, paths);
        return Recovery::Finished;
    }
    auto text = fs.ReadWholeFile(paths.Journal());
    if (!text) return Recovery::Failed;
    auto plan = ParseJournal(*text);
    if (!plan) {
        // Cut short while it was written: no step of the commit had begun.
        CleanUp(fs, paths);
        return Recovery::RolledBack;
    }
    if (!RollBack(fs, paths, *plan)) return Recovery::Failed;
    CleanUp(fs, paths);
    return Recovery::RolledBack;
}

}  // namespace vantorix::unzip
