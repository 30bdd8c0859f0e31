// All-or-nothing installs: staging names that cannot clash, duplicate and encrypted entries, and a kill
// after every single step of the commit followed by the next start's recovery.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>

#include "common/unzip/install_commit.h"
#include "tests/native/unzip_test_support.h"
#include "tests/native/unzip_zip_builder.h"

namespace vantorix::unzip {
namespace {

using testing::ReadBytes;
using testing::ScratchFolder;
using testing::Win;
using testing::WriteBytes;
using testing::ZipBuilder;
using testing::ZipEntrySpec;
namespace fs = std::filesystem;

// The host file system of a process that is killed after `budget` changes: every later change is lost.
// `running` names the image of a running program, which Windows lets rename but not replace or remove.
class DyingFileSystem : public PosixFileSystem {
public:
    long budget = -1;  // changes still carried out; -1 for all
    long changes = 0;  // changes carried out
    std::string running;

    bool CreateFolder(const std::string& p) override { return Alive() && PosixFileSystem::CreateFolder(p); }
    std::unique_ptr<OutputFile> CreateOutput(const std::string& p) override {
        return Alive() ? PosixFileSystem::CreateOutput(p) : nullptr;
    }
    bool MoveOver(const std::string& a, const std::string& b) override {
        if (b == running) return false;
        if (!Alive() || !PosixFileSystem::MoveOver(a, b)) return false;
        if (a == running) running = b;  // the image goes where its file goes
        return true;
    }
    void RemoveFile(const std::string& p) override {
        if (p != running && Alive()) PosixFileSystem::RemoveFile(p);
    }
    bool IsRunningProgram(const std::string& p) override { return p == running; }
    bool defers = true;  // false: an elevated step, which starts no program
    bool DefersRunningProgram() override { return defers; }
    bool RemoveFolder(const std::string& p) override { return Alive() && PosixFileSystem::RemoveFolder(p); }
    bool RemoveTree(const std::string& p) override {
        if (!running.empty() && running.rfind(p, 0) == 0) return false;  // the running image holds its folder
        return Alive() && PosixFileSystem::RemoveTree(p);
    }
    bool WriteDurably(const std::string& p, std::string_view d) override { return Alive() && PosixFileSystem::WriteDurably(p, d); }

private:
    bool Alive() {
        if (budget >= 0 && changes >= budget) return false;
        ++changes;
        return true;
    }
};

// Path -> content of every file (short ones as they are, long ones by size and hash), and every folder
// ("/"), below root.
std::map<std::string, std::string> Tree(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (auto& e : fs::recursive_directory_iterator(root)) {
        std::string content = e.is_directory() ? "/" : ReadBytes(e.path());
        if (content.size() > 40) content = std::to_string(content.size()) + "#" + std::to_string(std::hash<std::string>{}(content));
        tree[fs::relative(e.path(), root).string()] = content;
    }
    return tree;
}

// The tree without the retired folder, where a settled step leaves its own old image while it runs.
std::map<std::string, std::string> WithoutRetired(std::map<std::string, std::string> tree) {
    for (auto it = tree.begin(); it != tree.end();)
        it = it->first.rfind("update/retired", 0) == 0 ? tree.erase(it) : std::next(it);
    return tree;
}

struct Installation {
    ScratchFolder scratch;
    fs::path app = scratch.root() / "App";
    fs::path archive = scratch.root() / "newtemp.zip";

    Installation() {
        WriteBytes(app / "bin/client.exe", "old client");
        WriteBytes(app / "Skin/UI.html", "old skin");
        WriteBytes(app / "keep.txt", "not in the update");
        fs::create_directories(app / "update");
        WriteBytes(archive, ZipBuilder()
                                .File("bin/client.exe", "new client")
                                .File("Skin/UI.html", "new skin")
                                .File("bin/data/filler.bin", testing::PatternBytes(5000))
                                .File("readme.txt", "new file")
                                .Build());
    }
    InstallPaths Paths() const { return {Win(app) + "\\", Win(app) + "\\update\\", ""}; }
    // The next start: settles whatever the install left.
    Recovery NextStart() {
        PosixFileSystem next_start;
        return RecoverInstall(next_start, Paths());
    }
};

TEST(InstallCommit, AKillAfterAnyStepLeavesTheInstallationWhollyOldOrWhollyNewAfterTheNextStart) {
    std::map<std::string, std::string> old_tree, new_tree;
    long steps = 0;
    {
        Installation i;
        old_tree = Tree(i.app);
        DyingFileSystem files;
        ASSERT_EQ(UnzipToFolder(files, Win(i.app), Win(i.archive)).status, Status::Ok);
        steps = files.changes;
        // The install settled itself: the next start finds nothing to do.
        ASSERT_EQ(i.NextStart(), Recovery::Nothing);
        new_tree = Tree(i.app);
        EXPECT_EQ(new_tree.at("bin/client.exe"), "new client");
        EXPECT_EQ(new_tree.at("keep.txt"), "not in the update");
    }
    ASSERT_GT(steps, 10);
    int old_outcomes = 0, new_outcomes = 0;
    for (long kill_after = 0; kill_after < steps; ++kill_after) {
        SCOPED_TRACE("killed after " + std::to_string(kill_after) + " of " + std::to_string(steps) + " steps");
        Installation i;
        DyingFileSystem dying;
        dying.budget = kill_after;
        UnzipToFolder(dying, Win(i.app), Win(i.archive));
        ASSERT_NE(i.NextStart(), Recovery::Failed);
        auto tree = Tree(i.app);
        if (tree == old_tree) {
            ++old_outcomes;
        } else {
            ASSERT_EQ(tree, new_tree) << "a mixed installation";
            ++new_outcomes;
        }
        // Settled for good: a second start finds nothing to do.
        EXPECT_EQ(i.NextStart(), Recovery::Nothing);
    }
    EXPECT_GT(old_outcomes, 0);
    EXPECT_GT(new_outcomes, 0);
}

TEST(InstallCommit, AFailedMoveInTheCommitRestoresTheOldTreeExactly) {
    // A file system whose n-th move fails (a file locked between the check and the commit).
    struct FailingMove : PosixFileSystem {
        int fail_at = 0, moves = 0;
        bool MoveOver(const std::string& a, const std::string& b) override {
            return ++moves != fail_at && PosixFileSystem::MoveOver(a, b);
        }
    };
    for (int fail_at = 1; fail_at <= 6; ++fail_at) {  // the six moves: two per replaced file, one per new file
        SCOPED_TRACE("move " + std::to_string(fail_at) + " fails");
        Installation i;
        const auto old_tree = Tree(i.app);
        FailingMove files;
        files.fail_at = fail_at;
        Result r = UnzipToFolder(files, Win(i.app), Win(i.archive));
        EXPECT_EQ(r.status, Status::CannotWriteFile);
        EXPECT_EQ(Tree(i.app), old_tree);
    }
}

// A power cut after the commit on a disk that lost data it had acknowledged: a committed file holds zeros.
// The rollback copies are still there, so the next start goes back to the old tree rather than keep it.
TEST(InstallCommit, ACommittedFileThatIsNotWholeAtTheNextStartBringsBackTheOldTree) {
    for (bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "a zero-filled file" : "every file whole");
        Installation i;
        const auto old_tree = Tree(i.app);
        fs::copy_file(i.archive, i.app / "update/newtemp.zip");
        PosixFileSystem files;
        InstallPaths paths = i.Paths();
        paths.archive = "newtemp.zip";
        bool busy = false;
        auto lock = LockInstall(files, paths.work, busy);
        ASSERT_TRUE(lock);
        Result r = UnzipOpenedArchive(files, paths, files.OpenArchive(Win(i.app / "update/newtemp.zip")));
        lock.reset();
        ASSERT_EQ(r.status, Status::Ok);
        EXPECT_EQ(ReadBytes(i.app / "update/rollback/bin/client.exe"), "old client");  // kept after the commit
        if (damaged) WriteBytes(i.app / "Skin/UI.html", std::string(8, '\0'));
        EXPECT_EQ(i.NextStart(), damaged ? Recovery::RolledBack : Recovery::Finished);
        auto tree = Tree(i.app);
        if (damaged) {
            tree.erase("update/newtemp.zip");  // kept, so that the update is offered again
            EXPECT_EQ(tree, old_tree);
        } else {
            EXPECT_EQ(tree.at("Skin/UI.html"), "new skin");
            EXPECT_FALSE(fs::exists(i.app / "update/newtemp.zip"));  // the installed archive goes too
            EXPECT_TRUE(fs::is_empty(i.app / "update"));
        }
    }
}

// A second launcher starting while the first one commits: its start-up recovery must not roll the first
// one's commit back half-way, and leaves the installation to it.
TEST(InstallCommit, RecoveryByASecondProcessNeverTouchesAnInstallThatIsBeingCommitted) {
    struct Interleaved : PosixFileSystem {
        int at = 0, moves = 0;
        std::function<void()> second_start;
        bool MoveOver(const std::string& a, const std::string& b) override {
            bool moved = PosixFileSystem::MoveOver(a, b);
            if (++moves == at) second_start();
            return moved;
        }
    };
    for (int at = 1; at <= 6; ++at) {
        SCOPED_TRACE("the second launcher starts after move " + std::to_string(at));
        Installation i;
        Interleaved first;
        first.at = at;
        std::optional<Recovery> seen;
        first.second_start = [&] { seen = i.NextStart(); };
        ASSERT_EQ(UnzipToFolder(first, Win(i.app), Win(i.archive)).status, Status::Ok);
        EXPECT_EQ(seen, Recovery::Busy);
        EXPECT_EQ(i.NextStart(), Recovery::Nothing);
        const auto tree = Tree(i.app);
        EXPECT_EQ(tree.at("bin/client.exe"), "new client");
        EXPECT_EQ(tree.at("readme.txt"), "new file");
        EXPECT_EQ(tree.at("Skin/UI.html"), "new skin");
    }
}

// The running launcher's own file is never moved aside by the commit (a cut between that move and the
// next one left no launcher at all): it waits staged until FinishDeferred puts it in with one move once
// the program has ended. A kill at any step leaves a launcher in place, and the installation settles.
TEST(InstallCommit, TheRunningProgramsOwnFileIsReplacedInOneMoveAfterItEndsWhereverTheInstallIsCut) {
    auto prepare = [](Installation& i) {
        WriteBytes(i.app / "VantorixAssist.exe", "old launcher");
        WriteBytes(i.archive, ZipBuilder().File("VantorixAssist.exe", "new launcher").File("bin/client.exe", "new client").Build());
    };
    const std::string launcher_name = "VantorixAssist.exe";
    long steps = 0;
    {
        Installation i;
        prepare(i);
        DyingFileSystem files;
        files.running = Win(i.app / launcher_name);
        Result r = UnzipToFolder(files, Win(i.app), Win(i.archive));
        ASSERT_EQ(r.status, Status::Ok);
        EXPECT_EQ(r.deferred, std::vector<std::string>{launcher_name});
        EXPECT_EQ(ReadBytes(i.app / launcher_name), "old launcher");
        EXPECT_EQ(ReadBytes(i.app / "update/stage" / launcher_name), "new launcher");
        steps = files.changes;
    }
    for (long kill_after = 0; kill_after <= steps; ++kill_after) {
        SCOPED_TRACE("killed after " + std::to_string(kill_after) + " of " + std::to_string(steps) + " steps");
        Installation i;
        prepare(i);
        DyingFileSystem dying;
        dying.budget = kill_after;
        dying.running = Win(i.app / launcher_name);
        UnzipToFolder(dying, Win(i.app), Win(i.archive));
        ASSERT_TRUE(fs::exists(i.app / launcher_name));
        // The next start is the old launcher again, running from its file.
        DyingFileSystem old_running;
        old_running.running = dying.running;
        const Recovery recovery = RecoverInstall(old_running, i.Paths());
        ASSERT_TRUE(recovery == Recovery::RolledBack || recovery == Recovery::Pending || recovery == Recovery::Nothing)
            << static_cast<int>(recovery);
        ASSERT_EQ(FinishDeferred(old_running, i.Paths()), recovery == Recovery::Pending ? Recovery::Failed : Recovery::Nothing);
        // It has ended: the staged copy moves itself in.
        PosixFileSystem ended;
        EXPECT_EQ(FinishDeferred(ended, i.Paths()), recovery == Recovery::Pending ? Recovery::Finished : Recovery::Nothing);
        EXPECT_NE(i.NextStart(), Recovery::Failed);
        const auto tree = Tree(i.app);
        const bool updated = recovery == Recovery::Pending;
        EXPECT_EQ(tree.at(launcher_name), updated ? "new launcher" : "old launcher");
        EXPECT_EQ(tree.at("bin/client.exe"), updated ? "new client" : "old client");
        EXPECT_TRUE(fs::is_empty(i.app / "update"));
    }
}

// The launcher's elevated step starts no program, so nothing may wait in the staging folder for a staged
// copy to be started: it moves its own running file aside into the rollback folder (Windows lets a running
// image be renamed) and the new one into its place, under the journal like every other file. A kill at any
// step leaves the installation wholly old or wholly new once the next step has recovered it; only a kill
// between those two moves leaves no launcher at its name for that step to run from (the setup repairs it).
TEST(InstallCommit, AStepThatStartsNoProgramMovesItsRunningFileAsideAndTheNewOneInUnderTheJournal) {
    const std::string launcher_name = "VantorixAssist.exe";
    auto prepare = [&](Installation& i) {
        WriteBytes(i.app / launcher_name, "old launcher");
        WriteBytes(i.archive, ZipBuilder().File(launcher_name, "new launcher").File("bin/client.exe", "new client").Build());
    };
    std::map<std::string, std::string> old_tree, new_tree;
    long steps = 0;
    {
        Installation i;
        prepare(i);
        old_tree = Tree(i.app);
        DyingFileSystem step;
        step.defers = false;
        step.running = Win(i.app / launcher_name);
        const Result r = UnzipToFolder(step, Win(i.app), Win(i.archive));
        ASSERT_EQ(r.status, Status::Ok);
        EXPECT_TRUE(r.deferred.empty());
        EXPECT_EQ(ReadBytes(i.app / launcher_name), "new launcher");
        // Settled by the step itself: the old launcher, which still runs, waits in the retired folder for
        // the next clean-up, and nothing is left for a later start to settle.
        EXPECT_EQ(ReadBytes(i.app / "update/retired" / launcher_name), "old launcher");
        EXPECT_EQ(step.running, Win(i.app / "update/retired" / launcher_name));  // it runs on from there
        EXPECT_FALSE(fs::exists(i.app / "update/stage"));
        EXPECT_FALSE(fs::exists(i.app / "update/rollback"));
        EXPECT_FALSE(fs::exists(i.app / "update/install.journal"));
        steps = step.changes;
        ASSERT_EQ(i.NextStart(), Recovery::Nothing);
        new_tree = WithoutRetired(Tree(i.app));
    }
    int without_launcher = 0;
    for (long kill_after = 0; kill_after <= steps; ++kill_after) {
        SCOPED_TRACE("killed after " + std::to_string(kill_after) + " of " + std::to_string(steps) + " steps");
        Installation i;
        prepare(i);
        DyingFileSystem dying;
        dying.defers = false;
        dying.budget = kill_after;
        dying.running = Win(i.app / launcher_name);
        UnzipToFolder(dying, Win(i.app), Win(i.archive));
        if (fs::exists(i.app / "update/install.journal")) {
            ASSERT_EQ(ReadBytes(i.app / "update/install.journal").find("deferred"), std::string::npos)
                << "a launcher waits to be started";
        }
        // The next step runs from whatever launcher is at its name (the setup's repair, when none is).
        DyingFileSystem next;
        next.defers = false;
        if (fs::exists(i.app / launcher_name)) next.running = Win(i.app / launcher_name);
        else ++without_launcher;
        ASSERT_NE(RecoverInstall(next, i.Paths()), Recovery::Failed);
        ASSERT_NE(i.NextStart(), Recovery::Failed);
        const auto tree = WithoutRetired(Tree(i.app));
        EXPECT_TRUE(tree == old_tree || tree == new_tree) << tree.at("bin/client.exe");
    }
    EXPECT_EQ(without_launcher, 1);
}

// A journal of the first format, written by the launcher before this one when it was killed right after
// moving its own file: the new launcher runs from the installation, the old one waits in the rollback
// folder. The new one goes aside (a running program can be renamed) and the installation is old again.
TEST(InstallCommit, AJournalOfTheFirstFormatIsRecoveredAlsoWhenTheRunningLauncherWasAlreadyReplaced) {
    Installation i;
    WriteBytes(i.app / "VantorixAssist.exe", "old launcher");
    const auto old_tree = Tree(i.app);
    WriteBytes(i.app / "update/rollback/VantorixAssist.exe", "old launcher");
    WriteBytes(i.app / "VantorixAssist.exe", "new launcher");
    WriteBytes(i.app / "update/stage/bin/client.exe", "new client");
    WriteBytes(i.app / "update/install.journal",
               "vantorix-install 1\nfile\t1\tVantorixAssist.exe\nfile\t1\tbin\\client.exe\nend\n");
    DyingFileSystem new_running;
    new_running.running = Win(i.app / "VantorixAssist.exe");
    EXPECT_EQ(RecoverInstall(new_running, i.Paths()), Recovery::RolledBack);
    EXPECT_EQ(ReadBytes(i.app / "VantorixAssist.exe"), "old launcher");
    // The new program's file could not go while it ran; it goes at the start after it.
    EXPECT_EQ(i.NextStart(), Recovery::Nothing);
    EXPECT_EQ(Tree(i.app), old_tree);
}

// Links in the work folders pointing at a folder outside: the start-up recovery and an install remove
// them as links and never touch what they point at; a work folder that is itself a link is not used.
TEST(InstallCommit, LinksInTheWorkFoldersAreRemovedAsLinksAndNothingOutsideIsTouched) {
    Installation i;
    const fs::path outside = i.scratch.root() / "outside";
    WriteBytes(outside / "keep/precious.txt", "precious");
    WriteBytes(outside / "client.exe", "not ours");
    const auto outside_tree = Tree(outside);
    fs::create_directories(i.app / "update/stage");
    fs::create_directory_symlink(outside / "keep", i.app / "update/stage/bin");
    fs::create_directory_symlink(outside, i.app / "update/rollback");
    EXPECT_EQ(i.NextStart(), Recovery::Nothing);
    EXPECT_FALSE(fs::exists(fs::symlink_status(i.app / "update/rollback")));
    fs::create_directory_symlink(outside, i.app / "update/rollback");
    PosixFileSystem files;
    ASSERT_EQ(UnzipToFolder(files, Win(i.app), Win(i.archive)).status, Status::Ok);
    EXPECT_EQ(Tree(outside), outside_tree);
    EXPECT_EQ(i.NextStart(), Recovery::Nothing);
    EXPECT_EQ(ReadBytes(i.app / "bin/client.exe"), "new client");
    EXPECT_EQ(Tree(outside), outside_tree);

    Installation linked;
    fs::remove(linked.app / "update");
    fs::create_directory_symlink(outside, linked.app / "update");
    const auto old_tree = Tree(linked.app);
    EXPECT_EQ(UnzipToFolder(files, Win(linked.app), Win(linked.archive)).status, Status::CannotWriteFile);
    EXPECT_EQ(Tree(linked.app), old_tree);
    EXPECT_EQ(Tree(outside), outside_tree);
}

// The process that commits settles its own install once it has read the tree back whole: no journal,
// mark, rollback or staging folder is left for a later start (or a later elevated step) to act on.
TEST(InstallCommit, TheCommittingProcessSettlesItsOwnInstall) {
    Installation i;
    PosixFileSystem files;
    ASSERT_EQ(UnzipToFolder(files, Win(i.app), Win(i.archive)).status, Status::Ok);
    EXPECT_EQ(ReadBytes(i.app / "bin/client.exe"), "new client");
    EXPECT_TRUE(fs::is_empty(i.app / "update"));
}

// A committed install whose journal outlived it (its process was killed before it settled), then a file
// changed as a setup repair or upgrade changes it: neither the release the install put there nor the one
// it replaced. The next recovery moves nothing over it; it discards the journal and names the file. The
// same for a cut install (no done mark) over which the setup ran.
TEST(InstallCommit, AFileChangedAfterTheInstallIsNeverRolledBackAndTheJournalIsDiscarded) {
    for (bool committed : {true, false}) {
        SCOPED_TRACE(committed ? "committed, then repaired" : "cut, then repaired");
        Installation i;
        PosixFileSystem files;
        InstallPaths paths = i.Paths();
        bool busy = false;
        auto lock = LockInstall(files, paths.work, busy);
        ASSERT_TRUE(lock);
        // UnzipOpenedArchive commits without settling: the state a kill right after the commit leaves.
        ASSERT_EQ(UnzipOpenedArchive(files, paths, files.OpenArchive(Win(i.archive))).status, Status::Ok);
        lock.reset();
        if (!committed) fs::remove(i.app / "update/install.done");
        ASSERT_TRUE(fs::exists(i.app / "update/rollback/Skin/UI.html"));
        WriteBytes(i.app / "Skin/UI.html", "repaired skin");
        const auto repaired = Tree(i.app / "bin");
        std::string file;
        EXPECT_EQ(RecoverInstall(files, paths, &file), Recovery::Discarded);
        EXPECT_EQ(file, "Skin\\UI.html");
        EXPECT_EQ(ReadBytes(i.app / "Skin/UI.html"), "repaired skin");
        EXPECT_EQ(Tree(i.app / "bin"), repaired);  // nothing else moved either
        EXPECT_FALSE(fs::exists(i.app / "update/install.journal"));
        EXPECT_FALSE(fs::exists(i.app / "update/rollback"));
        EXPECT_EQ(i.NextStart(), Recovery::Nothing);
    }
}

// A process that may not write the work folder: nothing to settle is no failure (it never needs the lock),
// and work files it cannot settle say so, untouched.
TEST(InstallCommit, RecoveryWithoutTheLockReportsNothingOrNoLock) {
    struct NoLockFileSystem : PosixFileSystem {
        std::unique_ptr<FolderLock> LockFolder(const std::string&, bool& busy) override {
            busy = false;
            return nullptr;
        }
    };
    Installation i;
    NoLockFileSystem denied;
    EXPECT_EQ(RecoverInstall(denied, i.Paths()), Recovery::Nothing);
    WriteBytes(i.app / "update/install.journal", "vantorix-install 2\nend\n");
    EXPECT_EQ(RecoverInstall(denied, i.Paths()), Recovery::NoLock);
    EXPECT_TRUE(fs::exists(i.app / "update/install.journal"));
}

TEST(InstallCommit, TheClientExecutableIsCommittedLast) {
    Installation i;
    PosixFileSystem files;
    std::vector<CommitFile> staged(3);
    staged[0].name = "bin\\client.exe", staged[1].name = "Skin\\UI.html", staged[2].name = "bin\\data\\x.bin";
    CommitPlan plan = PlanCommit(files, i.Paths(), staged);
    ASSERT_EQ(plan.files.size(), 3u);
    EXPECT_EQ(plan.files.back().name, "bin\\client.exe");
    EXPECT_TRUE(plan.files.back().replaces);
    EXPECT_FALSE(plan.files[1].replaces);
    EXPECT_EQ(plan.new_folders, (std::vector<std::string>{"bin\\data\\"}));
    EXPECT_EQ(ParseJournal(JournalText(plan))->files.back().name, "bin\\client.exe");
    // A journal of the first format, as the launcher before this one wrote it, still reads.
    auto first = ParseJournal("vantorix-install 1\nfolder\tbin\\data\\\nfile\t1\tbin\\client.exe\nend\n");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->new_folders, (std::vector<std::string>{"bin\\data\\"}));
    EXPECT_TRUE(first->files.at(0).replaces && !first->files.at(0).summary);
    // A journal cut short, or one that names a path outside the installation, is not acted on.
    const std::string text = JournalText(plan);
    EXPECT_FALSE(ParseJournal(text.substr(0, text.size() - 2)));
    EXPECT_FALSE(ParseJournal("vantorix-install 1\nfile\t1\t..\\..\\evil\nend\n"));
    EXPECT_FALSE(ParseJournal("vantorix-install 2\narchive\t..\\evil.zip\nend\n"));
}

TEST(InstallCommit, EntryNamesThatWouldClashWithStagingOrEachOtherAreNotAProblemOrAreRefused) {
    {
        // The old way staged "a.txt" beside its target as "a.txt.vxpart": an entry of that name swapped bytes.
        Installation i;
        WriteBytes(i.archive, ZipBuilder().File("a.txt", "A").File("a.txt.vxpart", "B").Build());
        PosixFileSystem files;
        ASSERT_EQ(UnzipToFolder(files, Win(i.app), Win(i.archive)).status, Status::Ok);
        EXPECT_EQ(ReadBytes(i.app / "a.txt"), "A");
        EXPECT_EQ(ReadBytes(i.app / "a.txt.vxpart"), "B");
    }
    struct Case { const char* what; std::string zip; Status status; } cases[] = {
        {"same name twice", ZipBuilder().File("bin/x.dll", "1").File("bin/x.dll", "2").Build(), Status::UnsafeName},
        {"names differing in case", ZipBuilder().File("bin/client.exe", "1").File("BIN/Client.EXE", "2").Build(), Status::UnsafeName},
        {"inside the work folder", ZipBuilder().File("Update/stage/bin/client.exe", "x").Build(), Status::UnsafeName},
        {"encrypted", ZipBuilder().File("bin/client.exe", "1").Add({"Skin/UI.html", "secret", false, 0, 0x1, false, 0, ""}).Build(),
         Status::EncryptedEntry},
        {"bad CRC on the last entry", ZipBuilder().File("bin/client.exe", "1").Add({"z.bin", "zz", true, 0, 0, true, 0, ""}).Build(),
         Status::DamagedEntry},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Installation i;
        const auto old_tree = Tree(i.app);
        WriteBytes(i.archive, c.zip);
        PosixFileSystem files;
        EXPECT_EQ(UnzipToFolder(files, Win(i.app), Win(i.archive)).status, c.status);
        EXPECT_EQ(Tree(i.app), old_tree);
    }
}

}  // namespace
}  // namespace vantorix::unzip
