// All-or-nothing installs: staging names that cannot clash, duplicate and encrypted entries, and a kill
// after every single step of the commit followed by the next start's recovery.
#include <gtest/gtest.h>

#include <map>

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
class DyingFileSystem : public PosixFileSystem {
public:
    long budget = -1;  // changes still carried out; -1 for all
    long changes = 0;  // changes carried out

    bool CreateFolder(const std::string& p) override { return Alive() && PosixFileSystem::CreateFolder(p); }
    std::unique_ptr<OutputFile> CreateOutput(const std::string& p) override {
        return Alive() ? PosixFileSystem::CreateOutput(p) : nullptr;
    }
    bool MoveOver(const std::string& a, const std::string& b) override { return Alive() && PosixFileSystem::MoveOver(a, b); }
    void RemoveFile(const std::string& p) override {
        if (Alive()) PosixFileSystem::RemoveFile(p);
    }
    bool RemoveFolder(const std::string& p) override { return Alive() && PosixFileSystem::RemoveFolder(p); }
    bool RemoveTree(const std::string& p) override { return Alive() && PosixFileSystem::RemoveTree(p); }
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
    InstallPaths Paths() const { return {Win(app) + "\\", Win(app) + "\\update\\"}; }
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
        PosixFileSystem next_start;
        Recovery recovery = RecoverInstall(next_start, i.Paths());
        ASSERT_NE(recovery, Recovery::Failed);
        auto tree = Tree(i.app);
        if (tree == old_tree) {
            ++old_outcomes;
        } else {
            ASSERT_EQ(tree, new_tree) << "a mixed installation";
            ++new_outcomes;
        }
        // Settled for good: a second start finds nothing to do.
        EXPECT_EQ(RecoverInstall(next_start, i.Paths()), Recovery::Nothing);
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

TEST(InstallCommit, TheClientExecutableIsCommittedLast) {
    Installation i;
    PosixFileSystem files;
    CommitPlan plan = PlanCommit(files, i.Paths(), {{"bin\\client.exe"}, {"Skin\\UI.html"}, {"bin\\data\\x.bin"}});
    ASSERT_EQ(plan.files.size(), 3u);
    EXPECT_EQ(plan.files.back().name, "bin\\client.exe");
    EXPECT_TRUE(plan.files.back().replaces);
    EXPECT_FALSE(plan.files[1].replaces);
    EXPECT_EQ(plan.new_folders, (std::vector<std::string>{"bin\\data\\"}));
    EXPECT_EQ(ParseJournal(JournalText(plan))->files.back().name, "bin\\client.exe");
    // A journal cut short, or one that names a path outside the installation, is not acted on.
    const std::string text = JournalText(plan);
    EXPECT_FALSE(ParseJournal(text.substr(0, text.size() - 2)));
    EXPECT_FALSE(ParseJournal("vantorix-install 1\nfile\t1\t..\\..\\evil\nend\n"));
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
