#pragma once
// Committing a staged install over an installation folder, all or nothing, under a journal that
// survives a kill. A commit is a list of steps, each one file-system operation:
//   1. the journal is written (and flushed): the folders to create and the files to move, in order;
//   2. each missing folder is created;
//   3. for each file: the old file (when there is one) moves into the rollback folder, then the staged
//      file moves into its place; the client executable comes last;
//   4. the "done" mark is written: from here on the install counts as committed;
//   5. the rollback and staging folders, the journal and the mark are removed.
// RecoverInstall, run at the next start before anything else, rolls a journal without its mark back
// (every replaced file returns, every new file and folder goes) and finishes one with its mark.
#include <string>
#include <string_view>
#include <vector>

#include "common/unzip/extract.h"

namespace vantorix::unzip {

// The folders of one install: all end in "\".
struct InstallPaths {
    std::string folder;  // the installation
    std::string work;    // its work folder (the journal lives here)
    std::string Stage() const { return work + "stage\\"; }
    std::string Rollback() const { return work + "rollback\\"; }
    std::string Journal() const { return work + "install.journal"; }
    std::string DoneMark() const { return work + "install.done"; }
};

// One file of the commit: its path relative to the installation, and whether it replaces a file.
struct CommitFile {
    std::string name;
    bool replaces = false;
};

struct CommitPlan {
    std::vector<std::string> new_folders;  // relative, parents first, each ending in "\"
    std::vector<CommitFile> files;         // in commit order
};

// The name committed last: the program the launcher starts afterwards.
inline constexpr std::string_view kCommittedLast = "bin\\client.exe";

// Orders the staged files (relative names) for the commit, kCommittedLast at the end, and finds which of
// them replace a file and which folders (of the files, and the archive's own folder entries, ending in
// "\") are missing.
CommitPlan PlanCommit(FileSystem& fs, const InstallPaths& paths, const std::vector<std::string>& files,
                      const std::vector<std::string>& folders = {});

// Runs the commit. On any failure the folder is restored and the work files removed; the result says what
// failed (CannotWriteFile) and whether the restore itself succeeded (detail "restore failed" otherwise).
Result Commit(FileSystem& fs, const InstallPaths& paths, const CommitPlan& plan);

enum class Recovery {
    Nothing,     // no install was under way
    RolledBack,  // an interrupted commit was undone: the installation is as before the update
    Finished,    // a committed install's clean-up was finished: the installation is the new one
    Failed,      // the journal could not be carried out now (a file in use); it stays for the next start
};

Recovery RecoverInstall(FileSystem& fs, const InstallPaths& paths);

// The journal's text and its reading back; nullopt for a journal cut short (no step had begun then).
std::string JournalText(const CommitPlan& plan);
std::optional<CommitPlan> ParseJournal(std::string_view text);

}  // namespace vantorix::unzip
