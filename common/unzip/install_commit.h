#pragma once
// Committing a staged install over an installation folder, all or nothing, under a journal that
// survives a kill or a power cut. A commit is a list of steps, each one file-system operation:
//   1. the journal is written (and flushed): the folders to create and the files to move, in order, with
//      the size and CRC-32 of every staged file (whose data was flushed when it was staged);
//   2. each missing folder is created;
//   3. for each file: the old file (when there is one) moves into the rollback folder, then the staged
//      file moves into its place; the client executable comes last. The running program's own file is
//      not moved: it cannot be replaced while it runs, and moving it aside first would leave no program
//      at its name for a moment. It stays staged ("deferred") and FinishDeferred, run by the staged copy
//      of the program once the running one has ended, puts it in place with one replacing move. A file
//      system whose DefersRunningProgram() is false (the launcher's elevated steps, which start no
//      program) moves the running file aside into the rollback folder like any replaced file instead
//      (a running image can be renamed) and the new one into its place; once the install is settled that
//      old file, still running, moves on into the retired folder;
//   4. the "done" mark is written: from here on the install counts as committed;
//   5. the committing process itself, once it no longer holds the archive open, reads every committed
//      file back (size and CRC-32) and, the tree whole, removes the journal, the mark, the rollback
//      folder and the archive (SettleCommitted), so nothing is left for a later start or step.
// A journal that outlives its install (the process was killed, or a file was not whole) is settled by
// RecoverInstall, which every start and every elevated step runs before anything else: a committed tree
// found whole loses its work files (and the archive the install came from); a journal without its mark
// is rolled back (every replaced file returns, every new file and folder goes), and so is a committed
// one whose files are not all whole (a power cut on a disk that lost data it had acknowledged), so an
// installation is wholly old or wholly new, never broken. A rollback moves nothing over a file that is
// neither the one the install put there nor the one it replaced: such a file came later (the setup
// repaired or upgraded the installation), and the journal is discarded instead, the file left standing.
// One process at a time commits or recovers: both run under the work folder's install lock.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/unzip/extract.h"

namespace vantorix::unzip {

// The folders of one install: all end in "\".
struct InstallPaths {
    std::string folder;   // the installation
    std::string work;     // its work folder (the journal lives here)
    std::string archive{};  // file name of the archive in the work folder this install comes from ("" none)
    std::string Stage() const { return work + "stage\\"; }
    std::string Rollback() const { return work + "rollback\\"; }
    // Where a settled install leaves the running program's old file that it could not remove (Windows
    // lets a running image be renamed, not deleted); not a work file: the next clean-up removes it.
    std::string Retired() const { return work + "retired\\"; }
    std::string Journal() const { return work + "install.journal"; }
    std::string DoneMark() const { return work + "install.done"; }
    std::string Lock() const { return work + std::string(kLockFile); }
};

// One file of the commit: its path relative to the installation, whether it replaces a file, what the
// staged file holds (absent in journals of the first format), and whether it waits for the running
// program to end (the program's own file).
struct CommitFile {
    std::string name;
    bool replaces = false;
    std::optional<FileSummary> summary;
    bool deferred = false;
};

struct CommitPlan {
    std::vector<std::string> new_folders;  // relative, parents first, each ending in "\"
    std::vector<CommitFile> files;         // in commit order
    std::string archive;                   // see InstallPaths::archive
};

// The name committed last: the program the launcher starts afterwards.
inline constexpr std::string_view kCommittedLast = "bin\\client.exe";

// Orders the staged files (relative names with their summaries) for the commit, kCommittedLast at the
// end, and finds which of them replace a file, which is the running program, and which folders (of the
// files, and the archive's own folder entries, ending in "\") are missing.
CommitPlan PlanCommit(FileSystem& fs, const InstallPaths& paths, const std::vector<CommitFile>& staged,
                      const std::vector<std::string>& folders = {});

// Runs the commit (the caller holds the install lock). On any failure the folder is restored and the
// work files removed; the result says what failed (CannotWriteFile) and whether the restore itself
// succeeded (detail "restore failed" otherwise).
Result Commit(FileSystem& fs, const InstallPaths& paths, const CommitPlan& plan);

enum class Recovery {
    Nothing,     // no install was under way (work files left by a clean-up cut short are removed)
    RolledBack,  // an interrupted commit was undone: the installation is as before the update
    Finished,    // a committed install was found whole and its work files removed
    Failed,      // the journal could not be carried out now (a file in use); it stays for the next start
    Busy,        // another live process holds the install lock: nothing was touched
    Pending,     // committed, and the program's own file still waits in the staging folder for
                 // FinishDeferred (the caller starts that staged copy of the program)
    Discarded,   // a file of the install is neither what it put there nor what it replaced (a later setup
                 // repair or upgrade): nothing was moved, the journal and its work files were removed
    NoLock,      // work files wait, but the install lock could not be taken (not busy: this process may
                 // not write the work folder): nothing was touched
};

// A journal, a done mark, a staging or a rollback folder lies in the work folder: something to settle.
bool HasWorkFiles(FileSystem& fs, const InstallPaths& paths);

// Settles whatever an earlier run left. Without work files it returns Nothing at once (it needs no lock,
// so a process that may not write the installation has nothing to report); otherwise it takes the
// install lock. file, when given, receives the file that decided the outcome, for the log (Discarded:
// the file that is neither release; RolledBack of a committed install: the file that was not whole).
Recovery RecoverInstall(FileSystem& fs, const InstallPaths& paths, std::string* file = nullptr);
// The same for a caller that holds the lock already.
Recovery RecoverLocked(FileSystem& fs, const InstallPaths& paths, std::string* file = nullptr);

// For the process that has just committed (it holds the lock, and no longer holds the archive open):
// when every committed file is whole, removes the journal, the mark, the rollback and staging folders
// and the archive named in the journal (the archive before the journal, so a kill in between leaves the
// journal that names it). Finished then; Pending while a deferred file waits; Failed when a committed
// file is not whole (the journal stays: the next start or step rolls it back); Nothing without a
// committed journal.
Recovery SettleCommitted(FileSystem& fs, const InstallPaths& paths);

// Puts the deferred files of a committed install in place, each with one move over the old file (which
// must no longer be running), and settles the install as SettleCommitted does. Finished when they are in
// place (or none waits), Failed when one cannot be moved yet, Busy when another process holds the lock,
// Nothing when no committed install is found.
Recovery FinishDeferred(FileSystem& fs, const InstallPaths& paths);

// The journal's text and its reading back (this format and the first one); nullopt for a journal cut
// short (no step had begun then) or one that names a path outside the installation.
std::string JournalText(const CommitPlan& plan);
std::optional<CommitPlan> ParseJournal(std::string_view text);

}  // namespace vantorix::unzip
