// Unpacking update archives: the layout they produce, names that must not be written, damaged archives and
// failing disks.
#include <gtest/gtest.h>

#include "common/unzip/install_commit.h"
#include "common/unzip/paths.h"
#include "tests/native/unzip_test_support.h"
#include "tests/native/unzip_zip_builder.h"

namespace vantorix::unzip {
namespace {

using testing::FaultyFileSystem;
using testing::Listing;
using testing::PatternBytes;
using testing::ReadBytes;
using testing::ScratchFolder;
using testing::Win;
using testing::WriteBytes;
using testing::ZipBuilder;
using testing::ZipEntrySpec;
namespace fs = std::filesystem;

struct Unpack {
    ScratchFolder scratch;
    fs::path archive = scratch.root() / "update.zip";
    fs::path target = scratch.root() / "App";
    FaultyFileSystem files;

    Result Run(const std::string& zip, std::string folder = "") {
        WriteBytes(archive, zip);
        if (folder.empty()) folder = Win(target);
        return UnzipToFolder(files, folder, Win(archive));
    }
    // Everything in the scratch folder except the archive itself, once the next start has settled the
    // install: its work files are gone then, and the empty work folder the run made is left out.
    std::set<std::string> Everything() {
        RecoverInstall(files, {Win(target) + "\\", Win(target) + "\\update\\", ""});
        auto all = Listing(scratch.root());
        all.erase("update.zip");
        bool work_empty = true;
        for (const std::string& p : all)
            if (p.rfind("App/update/", 0) == 0 && p != "App/update/") work_empty = false;
        if (work_empty) all.erase("App/update/");
        return all;
    }
};

TEST(UnzipToFolder, LaysOutTheArchiveCreatingSubfolders) {
    Unpack u;
    auto r = u.Run(ZipBuilder().File("bin/client.exe", "MZ client").File("Skin/UI.html", "<html>").Build());
    ASSERT_EQ(r.status, Status::Ok) << r.entry << " " << r.detail;
    EXPECT_EQ(r.files_written, 2u);
    EXPECT_EQ(ReadBytes(u.target / "bin/client.exe"), "MZ client");
    EXPECT_EQ(ReadBytes(u.target / "Skin/UI.html"), "<html>");
    EXPECT_EQ(u.Everything(), (std::set<std::string>{"App/", "App/bin/", "App/bin/client.exe", "App/Skin/", "App/Skin/UI.html"}));
}

TEST(UnzipToFolder, FolderWithoutOrWithDoubledTrailingBackslashUnpacksIntoTheSameFolder) {
    for (std::string suffix : {"", "\\", "\\\\"}) {
        SCOPED_TRACE("suffix " + suffix);
        Unpack u;
        auto r = u.Run(ZipBuilder().File("bin/client.exe", "x").File("top.txt", "t").Build(), Win(u.target) + suffix);
        ASSERT_EQ(r.status, Status::Ok) << r.entry << " " << r.detail;
        EXPECT_EQ(ReadBytes(u.target / "bin/client.exe"), "x");
        EXPECT_EQ(ReadBytes(u.target / "top.txt"), "t");
    }
}

TEST(UnzipToFolder, EntriesKeepTheirExactBytesAtBlockBoundaries) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{2047}, size_t{2048}, size_t{2049}, size_t{4096}, size_t{100001}}) {
        for (bool deflate : {false, true}) {
            SCOPED_TRACE(std::to_string(size) + (deflate ? " deflated" : " stored"));
            Unpack u;
            ZipEntrySpec e;
            e.name = "data.bin";
            e.data = PatternBytes(size, static_cast<uint32_t>(size));
            e.deflate = deflate;
            auto r = u.Run(ZipBuilder().Add(e).Build());
            ASSERT_EQ(r.status, Status::Ok) << r.detail;
            EXPECT_EQ(ReadBytes(u.target / "data.bin"), e.data);
        }
    }
}

TEST(UnzipToFolder, ReplacesALongerExistingFileLeavingNoOldBytes) {
    Unpack u;
    WriteBytes(u.target / "bin/client.exe", std::string(10000, 'O'));
    auto r = u.Run(ZipBuilder().File("bin/client.exe", "new").Build());
    ASSERT_EQ(r.status, Status::Ok);
    EXPECT_EQ(ReadBytes(u.target / "bin/client.exe"), "new");
    EXPECT_EQ(u.Everything(), (std::set<std::string>{"App/", "App/bin/", "App/bin/client.exe"}));
}

TEST(UnzipToFolder, KeepsNamesAsStoredIncludingCaseAndChinese) {
    Unpack u;
    ZipEntrySpec flagged;
    flagged.name = "皮肤/界面.html";
    flagged.data = "zh";
    flagged.flags = 0x800;
    auto r = u.Run(ZipBuilder().File("Skin/MixedCase.HTML", "m").Add(flagged).File("文档/说明.txt", "unflagged utf-8").Build());
    ASSERT_EQ(r.status, Status::Ok) << r.entry << " " << r.detail;
    EXPECT_EQ(ReadBytes(u.target / "Skin/MixedCase.HTML"), "m");
    EXPECT_FALSE(fs::exists(u.target / "skin/mixedcase.html"));
    EXPECT_EQ(ReadBytes(u.target / "皮肤/界面.html"), "zh");
    EXPECT_EQ(ReadBytes(u.target / "文档/说明.txt"), "unflagged utf-8");
}

TEST(UnzipToFolder, ALegacyNameWithAUnicodePathFieldUnpacksUnderItsUtf8Name) {
    Unpack u;
    ZipEntrySpec legacy;
    legacy.name = "\xD6\xD0.txt";  // "中.txt" in GBK
    legacy.data = "gbk";
    legacy.central_extra = testing::UnicodePathExtra(legacy.name, "中.txt");
    ZipEntrySpec stale = legacy;  // a field whose CRC does not match the stored name is ignored
    stale.name = "plain.txt";
    auto r = u.Run(ZipBuilder().Add(legacy).Add(stale).Build());
    ASSERT_EQ(r.status, Status::Ok) << r.entry << " " << r.detail;
    EXPECT_EQ(u.Everything(), (std::set<std::string>{"App/", "App/中.txt", "App/plain.txt"}));
}

TEST(UnzipToFolder, FolderEntriesOnlyCreateFolders) {
    Unpack u;
    ZipEntrySpec slash_only;  // made on another system: trailing "/" but no directory attribute
    slash_only.name = "logs/";
    slash_only.deflate = false;
    auto r = u.Run(ZipBuilder().Folder("Skin/").Folder("Build").Add(slash_only).File("Skin/a.txt", "a").Build());
    ASSERT_EQ(r.status, Status::Ok) << r.entry << " " << r.detail;
    EXPECT_EQ(r.files_written, 1u);
    EXPECT_EQ(u.Everything(), (std::set<std::string>{"App/", "App/Skin/", "App/Skin/a.txt", "App/Build/", "App/logs/"}));
}

TEST(UnzipToFolder, NotAnArchiveWritesNothing) {
    struct Case { const char* what; std::string bytes; Status status; } cases[] = {
        {"text file", "this is not a zip", Status::NotAnArchive},
        {"empty file", "", Status::NotAnArchive},
        {"zero entries (minizip opens no empty archive)", ZipBuilder().Build(), Status::NotAnArchive},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Unpack u;
        EXPECT_EQ(u.Run(c.bytes).status, c.status);
        EXPECT_TRUE(u.Everything().empty());
    }
    Unpack missing;
    EXPECT_EQ(UnzipToFolder(missing.files, Win(missing.target), Win(missing.scratch.root() / "nope.zip")).status, Status::NotAnArchive);
    EXPECT_TRUE(missing.Everything().empty());
}

// Hostile names: each archive starts with a harmless file, so "nothing written" shows that the whole
// archive was refused before any write.
TEST(UnzipToFolder, RefusesArchivesWithNamesThatEscapeTheFolder) {
    struct Case { std::string name; } cases[] = {
        {"../evil.txt"},          {"bin/../../evil.txt"},   {"..\\evil.txt"},         {"bin\\..\\..\\evil.txt"},
        {"/etc/evil.txt"},        {"\\evil.txt"},           {"\\\\server\\share\\e"},  {"//server/share/e"},
        {"C:/Windows/evil.txt"},  {"C:evil.txt"},           {"c:\\evil.txt"},          {"bin/file.txt:stream"},
        {"CON"},                  {"bin/nul.txt"},          {"Com1.log"},              {"LPT9"},
        {"aux/x.txt"},            {"conout$"},              {"./x.txt"},               {"bin/./x.txt"},
        {"bin/.../x.txt"},        {"evil. "},               {"a//b.txt"},              {"bad\x01name"},
        {"q?.txt"},               {"a*b"},                  {"pipe|x"},                {std::string("nul\0.txt", 8)},
        {"x/.."},                 {".."},                   {"/"},                     {""},
        {std::string(250, 'a') + "/" + std::string(30, 'b')},  // beyond the Windows path limit
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Unpack u;
        ZipEntrySpec hostile;
        hostile.name = c.name;
        hostile.data = "pwned";
        auto r = u.Run(ZipBuilder().File("bin/client.exe", "fine").Add(hostile).Build());
        EXPECT_EQ(r.status, Status::UnsafeName);
        EXPECT_EQ(r.files_written, 0u);
        EXPECT_TRUE(u.Everything().empty()) << *u.Everything().begin();
        EXPECT_TRUE(u.files.written.empty());
    }
}

TEST(UnzipToFolder, DamagedArchivesLeaveTheInstallationUntouched) {
    auto good = [] { return ZipBuilder().File("bin/client.exe", PatternBytes(5000)).File("Skin/UI.html", PatternBytes(3000, 2)); };
    auto with = [&](ZipEntrySpec e) { return good().Add(std::move(e)).Build(); };
    ZipEntrySpec crc_stored{"z.bin", PatternBytes(100), false, 0, 0, true, 0, ""};
    ZipEntrySpec crc_deflated{"z.bin", PatternBytes(9000), true, 0, 0, true, 0, ""};
    ZipEntrySpec longer_claim{"z.bin", PatternBytes(9000), true, 0, 0, false, 1, ""};
    ZipEntrySpec shorter_claim{"z.bin", PatternBytes(9000), true, 0, 0, false, -1, ""};
    ZipEntrySpec stored_short{"z.bin", PatternBytes(100), false, 0, 0, false, 50, ""};
    std::string full = good().Build();
    std::string corrupt_deflate = full;
    corrupt_deflate[40 + 100] ^= 0x55;  // inside the first entry's compressed data
    struct Case { const char* what; std::string zip; Status status; } cases[] = {
        {"CRC of a stored entry", with(crc_stored), Status::DamagedEntry},
        {"CRC of a deflated entry", with(crc_deflated), Status::DamagedEntry},
        {"size claims more than the data", with(longer_claim), Status::DamagedEntry},
        {"size claims less than the data", with(shorter_claim), Status::DamagedEntry},
        {"stored entry shorter than its size", with(stored_short), Status::DamagedEntry},
        {"corrupted compressed data", corrupt_deflate, Status::DamagedEntry},
        {"truncated to half", full.substr(0, full.size() / 2), Status::NotAnArchive},
        {"truncated inside the central directory", full.substr(0, full.size() - 40), Status::NotAnArchive},
        {"truncated inside the data", full.substr(0, 3000), Status::NotAnArchive},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Unpack u;
        WriteBytes(u.target / "bin/client.exe", "old client");
        auto r = u.Run(c.zip);
        EXPECT_EQ(r.status, c.status) << r.entry << " " << r.detail;
        EXPECT_EQ(ReadBytes(u.target / "bin/client.exe"), "old client");
        EXPECT_EQ(u.Everything(), (std::set<std::string>{"App/", "App/bin/", "App/bin/client.exe"}));
    }
}

TEST(UnzipToFolder, AFileAndAFolderOfTheSameNameAreRefusedBeforeWriting) {
    Unpack u;
    auto r = u.Run(ZipBuilder().File("bin", "file").File("BIN/client.exe", "x").Build());
    EXPECT_EQ(r.status, Status::UnsafeName);
    EXPECT_TRUE(u.Everything().empty());
}

TEST(UnzipToFolder, AFolderThatCannotBeCreatedEndsWithFailure) {
    Unpack u;
    int attempts = 0;
    u.files.fail_create_folder = [&](const std::string& p) {
        ++attempts;
        return p.find("\\Skin\\") != std::string::npos;
    };
    auto r = u.Run(ZipBuilder().File("bin/client.exe", "x").File("Skin/UI.html", "y").File("z.txt", "z").Build());
    EXPECT_EQ(r.status, Status::CannotCreateFolder);
    EXPECT_NE(r.entry.find("Skin"), std::string::npos);
    EXPECT_EQ(r.files_written, 0u);
    EXPECT_LT(attempts, 10);
    // The file staged before the failure is gone again, and so is every folder this run made.
    EXPECT_EQ(u.Everything(), (std::set<std::string>{}));
}

TEST(UnzipToFolder, AFailingWriteLeavesTheOldFileAndNoPartialOne) {
    struct Case { const char* what; long fail_after; bool fail_close; bool fail_replace; } cases[] = {
        {"disk full at once", 0, false, false},
        {"disk full mid-file", 4096, false, false},
        {"close fails", -1, true, false},
        {"replace refused (file in use)", -1, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Unpack u;
        WriteBytes(u.target / "bin/client.exe", "old client");
        u.files.fail_write_after = c.fail_after;
        u.files.fail_close = c.fail_close;
        u.files.fail_replace = c.fail_replace;
        auto r = u.Run(ZipBuilder().File("bin/client.exe", PatternBytes(10000)).Build());
        EXPECT_EQ(r.status, Status::CannotWriteFile);
        EXPECT_EQ(ReadBytes(u.target / "bin/client.exe"), "old client");
        EXPECT_EQ(u.Everything(), (std::set<std::string>{"App/", "App/bin/", "App/bin/client.exe"}));
    }
}

TEST(UnzipToFolder, AnUnpackedTotalBeyondTheFreeSpaceWritesNothing) {
    const std::string zip = ZipBuilder().File("bin/client.exe", PatternBytes(10000)).File("a.bin", PatternBytes(10000)).Build();
    Unpack u;
    WriteBytes(u.target / "bin/client.exe", "old client");
    u.files.free_bytes = 19999;
    auto r = u.Run(zip);
    EXPECT_EQ(r.status, Status::NoRoom);
    EXPECT_TRUE(u.files.written.empty());
    EXPECT_EQ(u.Everything(), (std::set<std::string>{"App/", "App/bin/", "App/bin/client.exe"}));
    u.files.free_bytes = 20000;  // exactly enough
    EXPECT_EQ(u.Run(zip).status, Status::Ok);
    EXPECT_EQ(ReadBytes(u.target / "a.bin"), PatternBytes(10000));
}

TEST(UnzipToFolder, ProgressCountsEveryUnpackedByteUpToTheTotal) {
    Unpack u;
    WriteBytes(u.archive, ZipBuilder().File("a.bin", PatternBytes(200000)).File("b.txt", "small").Build());
    std::vector<std::pair<unsigned long long, unsigned long long>> seen;
    auto r = UnzipToFolder(u.files, Win(u.target), Win(u.archive), {},
                           [&](unsigned long long done, unsigned long long total) { seen.emplace_back(done, total); });
    ASSERT_EQ(r.status, Status::Ok);
    ASSERT_GT(seen.size(), 2u);  // reported block by block, not once at the end
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i].first, seen[i - 1].first);
    EXPECT_EQ(seen.back(), std::make_pair(200005ull, 200005ull));
}

TEST(UnzipToFolder, AFailureOnALaterFileLeavesEveryEarlierFileOld) {
    struct Case { const char* what; long fail_after; bool in_use; } cases[] = {
        {"disk full on the last file", 6000, false},
        {"last file held by a running program", -1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Unpack u;
        WriteBytes(u.target / "Skin/UI.html", "old page");
        WriteBytes(u.target / "bin/client.exe", "old client");
        u.files.fail_write_after = c.fail_after;
        if (c.in_use) u.files.in_use.insert(Win(u.target / "bin/client.exe"));
        auto r = u.Run(ZipBuilder().File("Skin/UI.html", "new page").File("bin/client.exe", PatternBytes(10000)).Build());
        EXPECT_EQ(r.status, Status::CannotWriteFile);
        EXPECT_EQ(r.files_written, 0u);
        EXPECT_EQ(ReadBytes(u.target / "Skin/UI.html"), "old page");
        EXPECT_EQ(ReadBytes(u.target / "bin/client.exe"), "old client");
        EXPECT_EQ(u.Everything(), (std::set<std::string>{"App/", "App/Skin/", "App/Skin/UI.html", "App/bin/", "App/bin/client.exe"}));
    }
}

TEST(MakePath, CreatesEachLevelAndReturnsTheNormalisedFolder) {
    ScratchFolder s;
    PosixFileSystem files;
    std::string base = Win(s.root());
    auto made = MakePath(files, base + "\\a\\\\b\\c");
    ASSERT_TRUE(made);
    EXPECT_EQ(*made, base + "\\a\\b\\c\\");
    EXPECT_TRUE(fs::is_directory(s.root() / "a/b/c"));
    EXPECT_EQ(MakePath(files, base + "\\a\\b\\c\\\\"), base + "\\a\\b\\c\\");
}

TEST(MakePath, ALevelThatIsAFileFailsInsteadOfLooping) {
    ScratchFolder s;
    PosixFileSystem files;
    WriteBytes(s.root() / "blocker", "file");
    EXPECT_FALSE(MakePath(files, Win(s.root()) + "\\blocker\\inner"));
    EXPECT_FALSE(fs::exists(s.root() / "blocker/inner"));
}

TEST(PathParts, SplitAtTheLastBackslash) {
    struct Case { std::string path, file, folder; } cases[] = {
        {"C:\\App\\bin\\client.exe", "client.exe", "C:\\App\\bin\\"},
        {"client.exe", "client.exe", ""},
        {"C:\\App\\", "", "C:\\App\\"},
        {"", "", ""},
        {"a/b", "a/b", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(FileNamePart(c.path), c.file);
        EXPECT_EQ(FolderPart(c.path), c.folder);
    }
    EXPECT_EQ(FileNamePart(std::wstring(L"C:\\中文\\说明.txt")), L"说明.txt");
    EXPECT_EQ(FolderPart(std::wstring(L"C:\\中文\\说明.txt")), L"C:\\中文\\");
}

TEST(PathParts, FolderNormalisation) {
    struct Case { const char* in; const char* out; } cases[] = {
        {"C:\\App", "C:\\App\\"},     {"C:\\App\\", "C:\\App\\"},       {"C:\\App\\\\", "C:\\App\\"},
        {"C:\\\\App\\\\\\x", "C:\\App\\x\\"}, {"\\\\server\\share", "\\\\server\\share\\"}, {"", "\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(NormaliseFolder(c.in), c.out);
    }
}

TEST(EntryNames, SafeNamesPassAndEachHostileKindIsNamed) {
    struct Case { std::string name; NameProblem problem; } cases[] = {
        {"bin/client.exe", NameProblem::None}, {"Skin/", NameProblem::None}, {"a.b.c", NameProblem::None},
        {"con.d/x", NameProblem::Device},        {"CONSOLE.txt", NameProblem::None}, {"中文/说明.txt", NameProblem::None},
        {"..a/b", NameProblem::None},          {"COM10", NameProblem::None},
        {"", NameProblem::Empty},              {"/", NameProblem::Absolute},       {"../x", NameProblem::ParentOrSelf},
        {"a\\..", NameProblem::ParentOrSelf},  {"C:x", NameProblem::DriveOrStream}, {"nul", NameProblem::Device},
        {"Lpt1.txt", NameProblem::Device},     {"COM\xC2\xB9", NameProblem::Device}, {"a<b", NameProblem::BadCharacter},
        {"dir./x", NameProblem::TrailingDotOrSpace}, {"a /x", NameProblem::TrailingDotOrSpace},
        {"a\\\\b", NameProblem::EmptyPart},    {"a//", NameProblem::EmptyPart},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CheckEntryName(c.name), c.problem) << NameProblemText(CheckEntryName(c.name));
    }
}

}  // namespace
}  // namespace vantorix::unzip
