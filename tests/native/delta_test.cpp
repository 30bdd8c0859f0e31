// Delta packages applied to an installation: the new release when everything matches, and the
// installation exactly as it was, with the full archive as the way on, for every way a package or an
// installation can differ from what the delta was made for.
#include <gtest/gtest.h>
#include <zstd.h>

#include <algorithm>
#include <map>

#include "common/delta/apply_delta.h"
#include "common/delta/zstd_frame.h"
#include "tests/native/unzip_test_support.h"
#include "tests/native/unzip_zip_builder.h"
#include "tools/release/native/openssl_sha256.h"

namespace vantorix::delta {
namespace {

using testing::ReadBytes;
using testing::ScratchFolder;
using testing::Win;
using testing::WriteBytes;
using testing::ZipBuilder;
using testing::ZipEntrySpec;
namespace fs = std::filesystem;

OpenSslSha256Provider g_sha256;

FileState StateOf(const std::string& bytes) {
    return {bytes.size(), *DigestOf(g_sha256, bytes, [](size_t) {})};
}

// One zstd frame of bytes, made against prefix when there is one (zstd's patch-from).
std::string Frame(const std::string& bytes, const std::string& prefix = "", bool declare_size = true) {
    ZSTD_CCtx* c = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, 19);
    ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1);
    ZSTD_CCtx_setParameter(c, ZSTD_c_contentSizeFlag, declare_size ? 1 : 0);
    if (!prefix.empty()) ZSTD_CCtx_refPrefix(c, prefix.data(), prefix.size());
    std::string out(ZSTD_compressBound(bytes.size()), '\0');
    const size_t n = ZSTD_compress2(c, out.data(), out.size(), bytes.data(), bytes.size());
    ZSTD_freeCCtx(c);
    EXPECT_FALSE(ZSTD_isError(n));
    out.resize(n);
    return out;
}

// Builds a package record by record, as the release tool does; members can be damaged on the way.
struct Package {
    DeltaIndex index{"1.0.0.1", "1.0.0.2", {}};
    std::map<std::string, std::string> members;  // name -> bytes

    Package& Keep(const std::string& path, const std::string& bytes) {
        index.files.push_back({Action::Keep, path, StateOf(bytes), {}});
        return *this;
    }
    Package& Whole(const std::string& path, const std::string& bytes) {
        index.files.push_back({Action::Whole, path, StateOf(bytes), {}});
        members["data/" + path] = Frame(bytes);
        return *this;
    }
    Package& Patch(const std::string& path, const std::string& from, const std::string& to) {
        index.files.push_back({Action::Patch, path, StateOf(to), StateOf(from)});
        members["data/" + path] = Frame(to, from);
        return *this;
    }
    std::string Zip(bool wrong_crc_on_data = false) const {
        ZipBuilder zip;
        zip.Add({"delta.txt", IndexText(index), false, 0, 0, false, 0, ""});
        for (const auto& [name, bytes] : members) zip.Add({name, bytes, false, 0, 0, wrong_crc_on_data, 0, ""});
        return zip.Build();
    }
};

const std::string kOldClient = testing::PatternBytes(200000, 1);
const std::string kEngine = testing::PatternBytes(150000, 2);

// The new client: the old one with a few bytes changed and a block inserted, as a rebuild changes it.
std::string NewClient() {
    std::string s = kOldClient;
    for (size_t at = 1000; at < s.size(); at += 20000) s[at] = static_cast<char>(s[at] ^ 0x55);
    return s.insert(90000, testing::PatternBytes(3000, 9));
}

struct Installation {
    ScratchFolder scratch;
    fs::path app = scratch.root() / "App";
    fs::path package = scratch.root() / "delta.zip";
    Installation() {
        WriteBytes(app / "bin/client.exe", kOldClient);
        WriteBytes(app / "bin/node.dll", kEngine);
        WriteBytes(app / "Skin/UI.html", "<p>old</p>");
        WriteBytes(app / "only-old.txt", "stays, as with the full archive");
        fs::create_directories(app / "update");
    }
    // Every file and folder with its bytes: what "unchanged" is measured by.
    std::map<std::string, std::string> Contents() const {
        std::map<std::string, std::string> out;
        for (const std::string& name : testing::Listing(app)) out[name] = name.back() == '/' ? "" : ReadBytes(app / name);
        return out;
    }
};

Package ReleasePackage() {
    Package p;
    p.Patch("bin/client.exe", kOldClient, NewClient())
        .Keep("bin/node.dll", kEngine)
        .Whole("Skin/UI.html", "<p>new</p>")
        .Whole("Skin/img/logo.png", testing::PatternBytes(5000, 3));
    return p;
}

TEST(DeltaApply, BringsTheInstallationToTheNewReleaseWithTheClientCommittedLast) {
    Installation i;
    const Package p = ReleasePackage();
    // A patch, not a copy: the frame is a small part of the file it makes.
    ASSERT_LT(p.members.at("data/bin/client.exe").size(), NewClient().size() / 20);
    WriteBytes(i.package, p.Zip());
    std::vector<std::pair<uint64_t, uint64_t>> progress;
    unzip::PosixFileSystem files;
    Result r = ApplyDelta(files, g_sha256, Win(i.app), Win(i.package), {},
                          [&](uint64_t done, uint64_t total) { progress.emplace_back(done, total); });
    ASSERT_EQ(r.status, Status::Ok) << r.file << ": " << r.detail;
    EXPECT_EQ(r.committed, (std::vector<std::string>{"Skin\\UI.html", "Skin\\img\\logo.png", "bin\\client.exe"}));
    EXPECT_EQ(ReadBytes(i.app / "bin/client.exe"), NewClient());
    EXPECT_EQ(ReadBytes(i.app / "Skin/UI.html"), "<p>new</p>");
    EXPECT_EQ(ReadBytes(i.app / "Skin/img/logo.png"), testing::PatternBytes(5000, 3));
    EXPECT_EQ(ReadBytes(i.app / "bin/node.dll"), kEngine);
    EXPECT_EQ(ReadBytes(i.app / "only-old.txt"), "stays, as with the full archive");
    // The applier settled its own install: no journal or rollback copy waits for a later start.
    EXPECT_EQ(testing::Listing(i.app / "update"), std::set<std::string>{}) << "work files left behind";
    EXPECT_EQ(unzip::RecoverInstall(files, unzip::InstallPaths{Win(i.app) + "\\", Win(i.app / "update") + "\\"}),
              unzip::Recovery::Nothing);
    // Progress grows to its total: the sources checked and the files made.
    ASSERT_FALSE(progress.empty());
    const uint64_t total = kOldClient.size() + kEngine.size() + NewClient().size() + 10 + 5000;
    EXPECT_EQ(progress.back(), std::make_pair(total, total));
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

// A package left after its install is recognised by the version it makes; anything else reads as none.
TEST(DeltaApply, APackageTellsTheVersionItMakes) {
    Installation i;
    unzip::PosixFileSystem files;
    WriteBytes(i.package, ReleasePackage().Zip());
    EXPECT_EQ(PackageTargetVersion(files, Win(i.package)), std::optional<std::string>("1.0.0.2"));
    WriteBytes(i.package, ZipBuilder().File("delta.txt", "not an index").Build());
    EXPECT_EQ(PackageTargetVersion(files, Win(i.package)), std::nullopt);
    WriteBytes(i.package, "not a zip");
    EXPECT_EQ(PackageTargetVersion(files, Win(i.package)), std::nullopt);
    EXPECT_EQ(PackageTargetVersion(files, Win(i.scratch.root() / "missing.zip")), std::nullopt);
}

struct Refusal {
    const char* what;
    std::function<void(Installation&, Package&)> change;  // on the installation or the package
    Status status;
    std::string package_bytes;  // when set, written instead of the package
};

TEST(DeltaApply, AnythingThatDiffersFromWhatTheDeltaWasMadeForLeavesTheInstallationAsItWas) {
    auto put = [](Installation& i, const char* name, const std::string& bytes) { WriteBytes(i.app / name, bytes); };
    auto flip = [](std::string& s, size_t at) { s[at] = static_cast<char>(s[at] ^ 1); };
    const std::vector<Refusal> cases = {
        {"an installed file modified in place", [&](Installation& i, Package&) { std::string c = kOldClient; flip(c, 5); put(i, "bin/client.exe", c); },
         Status::SourceMismatch, ""},
        {"an installed file of another size", [&](Installation& i, Package&) { put(i, "bin/client.exe", kOldClient + "x"); },
         Status::SourceMismatch, ""},
        {"an installed file missing", [](Installation& i, Package&) { fs::remove(i.app / "bin/client.exe"); }, Status::SourceMissing, ""},
        {"a file the delta keeps modified", [&](Installation& i, Package&) { std::string e = kEngine; flip(e, 7); put(i, "bin/node.dll", e); },
         Status::SourceMismatch, ""},
        {"a delta made for another version", [](Installation&, Package& p) { p = Package(); p.Patch("bin/client.exe", kEngine, NewClient()); },
         Status::SourceMismatch, ""},
        {"a patch whose result has the wrong hash", [](Installation&, Package& p) { p.index.files[0].result.sha256[0] ^= 1; },
         Status::ResultMismatch, ""},
        {"a damaged patch", [&](Installation&, Package& p) { flip(p.members["data/bin/client.exe"], 40); }, Status::DamagedData, ""},
        {"a whole file with trailing bytes", [](Installation&, Package& p) { p.members["data/Skin/UI.html"] += "x"; }, Status::DamagedData, ""},
        {"a member missing", [](Installation&, Package& p) { p.members.erase("data/Skin/img/logo.png"); }, Status::DamagedData, ""},
        {"a member failing its CRC", [](Installation&, Package&) {}, Status::DamagedData, ReleasePackage().Zip(true)},
        {"not a package", [](Installation&, Package&) {}, Status::NotADelta, "PK not a zip"},
        {"a package without an index", [](Installation&, Package&) {}, Status::NotADelta, ZipBuilder().File("data/x", "y").Build()},
        {"a path out of the installation", [](Installation&, Package& p) { p.Whole("../evil.dll", "x"); }, Status::UnsafePath, ""},
        {"a path into the work folder", [](Installation&, Package& p) { p.Whole("Update/stage/bin/client.exe", "x"); }, Status::UnsafePath, ""},
        {"a path listed twice", [](Installation&, Package& p) { p.Whole("skin/ui.html", "x"); }, Status::UnsafePath, ""},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        Installation i;
        Package p = ReleasePackage();
        c.change(i, p);
        const auto before = i.Contents();
        WriteBytes(i.package, c.package_bytes.empty() ? p.Zip() : c.package_bytes);
        unzip::PosixFileSystem files;
        Result r = ApplyDelta(files, g_sha256, Win(i.app), Win(i.package));
        EXPECT_EQ(r.status, c.status) << r.file << ": " << r.detail;
        EXPECT_TRUE(FallsBackToFullArchive(r.status));
        EXPECT_EQ(i.Contents(), before);
    }
}

TEST(DeltaApply, TheCallersCheckSeesEveryStagedFileBeforeTheCommitAndItsRefusalWritesNothing) {
    // The elevated step's publisher check runs here: on the staged bytes, before anything is committed.
    for (const bool refuse : {true, false}) {
        SCOPED_TRACE(refuse ? "refused" : "accepted");
        Installation i;
        const auto before = i.Contents();
        WriteBytes(i.package, ReleasePackage().Zip());
        std::map<std::string, std::string> seen;  // staged name -> its bytes as the check read them
        const unzip::StagedCheck check = [&](const std::string& stage, const std::vector<unzip::CommitFile>& staged)
            -> std::optional<unzip::StagedRefusal> {
            for (const unzip::CommitFile& file : staged) {
                std::string path = stage + file.name;
                std::replace(path.begin(), path.end(), '\\', '/');
                seen[file.name] = ReadBytes(path);
            }
            if (refuse) return unzip::StagedRefusal{"bin\\client.exe", "not signed"};
            return std::nullopt;
        };
        unzip::PosixFileSystem files;
        Result r = ApplyDelta(files, g_sha256, Win(i.app), Win(i.package), {}, {}, check);
        EXPECT_EQ(seen.at("bin\\client.exe"), NewClient());
        EXPECT_EQ(seen.at("Skin\\UI.html"), "<p>new</p>");
        if (refuse) {
            EXPECT_EQ(r.status, Status::Untrusted);
            EXPECT_EQ(r.file, "bin\\client.exe");
            EXPECT_EQ(r.detail, "not signed");
            EXPECT_FALSE(FallsBackToFullArchive(r.status));  // the full archive carries the same programs
            EXPECT_EQ(i.Contents(), before);
            EXPECT_EQ(testing::Listing(i.app / "update"), std::set<std::string>{}) << "staged files left behind";
        } else {
            EXPECT_EQ(r.status, Status::Ok) << r.file << ": " << r.detail;
            EXPECT_EQ(ReadBytes(i.app / "bin/client.exe"), NewClient());
        }
    }
}

TEST(DeltaApply, AFullDiskOrAFailedWriteLeavesTheInstallationAsItWas) {
    struct Case {
        const char* what;
        std::function<void(testing::FaultyFileSystem&)> fault;
        Status status;
        bool falls_back;
    };
    const Case cases[] = {
        {"no room for the new files", [](testing::FaultyFileSystem& f) { f.free_bytes = 1000; }, Status::NoRoom, false},
        {"a staged write fails", [](testing::FaultyFileSystem& f) { f.fail_write_after = 100; }, Status::CannotWrite, true},
        {"the commit cannot replace a file", [](testing::FaultyFileSystem& f) { f.fail_replace = true; }, Status::CannotWrite, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Installation i;
        const auto before = i.Contents();
        WriteBytes(i.package, ReleasePackage().Zip());
        testing::FaultyFileSystem files;
        c.fault(files);
        Result r = ApplyDelta(files, g_sha256, Win(i.app), Win(i.package));
        EXPECT_EQ(r.status, c.status) << r.detail;
        EXPECT_EQ(FallsBackToFullArchive(r.status), c.falls_back);
        EXPECT_EQ(i.Contents(), before);
    }
}

TEST(DeltaIndex, OnlyACompleteWellFormedIndexIsRead) {
    const DeltaIndex index = ReleasePackage().index;
    const std::string text = IndexText(index);
    auto read = ParseIndex(text);
    ASSERT_TRUE(read);
    EXPECT_EQ(IndexText(*read), text);
    EXPECT_EQ(read->files[0].source, index.files[0].source);
    const std::string digest(64, 'a');
    const std::string head = "vantorix-delta 1\nfrom\t1\nto\t2\n";
    const char* refused[] = {
        "",
        "vantorix-delta 2\nfrom\t1\nto\t2\nend\n",
        "vantorix-delta 1\nfrom\t1\nto\t2\nend",  // the last line break missing
        "vantorix-delta 1\nfrom\t1\nto\t2\nkeep\t1\taa\tx\n",  // no end
        "vantorix-delta 1\nto\t2\nfrom\t1\nend\n",
    };
    for (const char* t : refused) EXPECT_FALSE(ParseIndex(t)) << t;
    const std::string records[] = {
        "keep\t1\t" + std::string(63, 'a') + "\tx",
        "keep\t1\t" + std::string(64, 'A') + "\tx",
        "keep\t01\t" + digest + "\tx",
        "keep\t2147483648\t" + digest + "\tx",
        "keep\t1\t" + digest + "\t",
        "keep\t1\t" + digest + "\tx\textra",
        "patch\t1\t" + digest + "\tx",
        "patch\t1\t" + digest + "\tx\t1\tzz",
        "remove\t1\t" + digest + "\tx",
    };
    for (const std::string& r : records) EXPECT_FALSE(ParseIndex(head + r + "\nend\n")) << r;
    EXPECT_TRUE(ParseIndex(head + "keep\t2147483647\t" + digest + "\tx\nend\n"));
}

TEST(DeltaFrame, AFrameMustMakeExactlyTheAnnouncedBytes) {
    const std::string bytes = testing::PatternBytes(70000, 4);
    std::string out;
    EXPECT_FALSE(DecodeFrame(Frame(bytes), "", bytes.size(), out));
    EXPECT_EQ(out, bytes);
    const std::string frame = Frame(bytes);
    struct Case { const char* what; std::string frame; uint64_t size; } cases[] = {
        {"another size announced", frame, bytes.size() + 1},
        {"cut short", frame.substr(0, frame.size() / 2), bytes.size()},
        {"two frames", frame + frame, bytes.size()},
        {"no size in the frame", Frame(bytes, "", false), bytes.size()},
        {"not zstd", "not a frame at all", bytes.size()},
        {"a patch without its prefix", Frame(bytes, kEngine), bytes.size()},
    };
    for (const Case& c : cases) EXPECT_TRUE(DecodeFrame(c.frame, "", c.size, out)) << c.what;
}

}  // namespace
}  // namespace vantorix::delta
