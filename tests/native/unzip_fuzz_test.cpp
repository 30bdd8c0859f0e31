// A bounded, seeded run of mutated archives through the extractor: no crash, nothing outside the target
// folder, and a refused archive writes nothing at all.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "common/unzip/install_commit.h"
#include "tests/native/unzip_test_support.h"
#include "tests/native/unzip_zip_builder.h"

namespace vantorix::unzip {
namespace {

using namespace vantorix::testing;
namespace fs = std::filesystem;

std::string Mutate(std::string bytes, std::mt19937& rng) {
    auto pick = [&](size_t n) { return n == 0 ? size_t{0} : std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
    static const char* kInteresting[] = {"\xff\xff\xff\xff", "\x00\x00\x00\x00", "\x7f\xff\xff\xff", "..", "/", "\\", ":"};
    int rounds = 1 + static_cast<int>(pick(4));
    for (int r = 0; r < rounds && !bytes.empty(); ++r) {
        switch (pick(5)) {
            case 0: bytes[pick(bytes.size())] ^= static_cast<char>(1u << pick(8)); break;
            case 1: bytes[pick(bytes.size())] = static_cast<char>(pick(256)); break;
            case 2: bytes.resize(pick(bytes.size())); break;
            case 3: {
                const char* s = kInteresting[pick(std::size(kInteresting))];
                size_t at = pick(bytes.size());
                size_t n = std::min(std::strlen(s) ? std::strlen(s) : 4, bytes.size() - at);
                bytes.replace(at, n, std::string(s, n));
                break;
            }
            default: bytes.erase(pick(bytes.size()), 1 + pick(8)); break;
        }
    }
    return bytes;
}

TEST(UnzipFuzz, MutatedArchivesNeverWriteOutsideTheTargetOrLeaveHalfAnUpdate) {
    std::vector<std::string> seeds = {
        ZipBuilder().File("bin/client.exe", PatternBytes(3000)).File("Skin/UI.html", "<html></html>").Folder("Build/").Build(),
        ZipBuilder().Add({"a.txt", PatternBytes(5000), false, 0, 0, false, 0, ""}).File("d/e/f.txt", "deep").Build(),
        ZipBuilder().Add({"中文/名.txt", "zh", true, 0, 0x800, false, 0, ""}).File("x", "").Build(),
    };
    std::mt19937 rng(20261208);
    int ok = 0, refused = 0;
    constexpr int kRuns = 600;
    for (int i = 0; i < kRuns; ++i) {
        ScratchFolder s;
        fs::path target = s.root() / "target";
        fs::path archive = s.root() / "a.zip";
        WriteBytes(archive, Mutate(seeds[i % seeds.size()], rng));
        PosixFileSystem files;
        Result r = UnzipToFolder(files, Win(target), Win(archive));
        // The next start settles the install; its empty work folder is all that may stay of it.
        ASSERT_NE(RecoverInstall(files, {Win(target) + "\\", Win(target) + "\\update\\", ""}), Recovery::Failed);
        auto all = Listing(s.root());
        for (const std::string& p : all) {
            ASSERT_TRUE(p == "a.zip" || p.rfind("target/", 0) == 0) << "run " << i << " wrote " << p;
            ASSERT_TRUE(p == "target/update/" || p.rfind("target/update", 0) != 0) << "run " << i << " left " << p;
        }
        if (r.status == Status::Ok) {
            ++ok;
        } else {
            ++refused;
            ASSERT_EQ(all, std::set<std::string>{"a.zip"}) << "run " << i << ": " << StatusText(r.status) << " after writing";
        }
    }
    // Both outcomes must occur, or the mutations are not reaching the interesting paths.
    EXPECT_GT(ok, 0);
    EXPECT_GT(refused, kRuns / 4);
}

}  // namespace
}  // namespace vantorix::unzip
