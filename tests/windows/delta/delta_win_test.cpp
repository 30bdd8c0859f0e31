// The release tool's delta package for the built installation, applied by the Windows build: the tree
// the full archive makes, and the installation untouched when the package or an installed file differs.
// run_delta_tests.sh makes the fixtures (VX_DELTA_WORK: old\, expected\, package.zip, damaged.zip).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "common/delta/apply_delta.h"
#include "launcher/services/bcrypt_sha256.h"
#include "launcher/services/services.h"
#include "launcher/services/wide_text.h"
#include "launcher/services/win32_file_system.h"

namespace vantorix::services {
namespace {

namespace fs = std::filesystem;

fs::path Work() {
    const wchar_t* work = _wgetenv(L"VX_DELTA_WORK");
    return work ? fs::path(work) : fs::path();
}

// Every file below root with its bytes, and every folder.
std::map<std::wstring, std::string> Contents(const fs::path& root) {
    std::map<std::wstring, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::wstring rel = fs::relative(e.path(), root).wstring();
        if (e.is_directory()) {
            out[rel + L"\\"] = "";
        } else {
            std::ifstream in(e.path(), std::ios::binary);
            out[rel] = std::string(std::istreambuf_iterator<char>(in), {});
        }
    }
    return out;
}

// A fresh copy of the earlier release to apply to.
fs::path Installation(const wchar_t* name) {
    const fs::path target = Work() / name;
    fs::remove_all(target);
    fs::copy(Work() / L"old", target, fs::copy_options::recursive);
    return target;
}

delta::Result Apply(const fs::path& folder, const wchar_t* package) {
    Win32FileSystem files;
    BcryptSha256Provider sha256;
    return delta::ApplyDelta(files, sha256, Utf8(folder.wstring()), Utf8((Work() / package).wstring()));
}

TEST(DeltaOnWindows, TheReleaseToolsPackageMakesWhatTheFullArchiveMakes) {
    ASSERT_FALSE(Work().empty()) << "VX_DELTA_WORK not set";
    const fs::path app = Installation(L"applied");
    const delta::Result r = Apply(app, L"package.zip");
    ASSERT_EQ(r.status, delta::Status::Ok) << r.file << ": " << r.detail;
    EXPECT_EQ(r.committed.back(), "bin\\client.exe");
    // The applier settled its own install: the next start finds nothing to do.
    EXPECT_EQ(RecoverInterruptedInstall(app.wstring()), InstallRecovery::Nothing);
    EXPECT_EQ(Contents(app), Contents(Work() / L"expected"));
}

TEST(DeltaOnWindows, ADamagedPackageOrAModifiedInstalledFileLeavesTheInstallationAsItWas) {
    ASSERT_FALSE(Work().empty()) << "VX_DELTA_WORK not set";
    struct Case { const wchar_t* package; const char* modified; delta::Status status; } cases[] = {
        {L"damaged.zip", nullptr, delta::Status::DamagedData},
        {L"package.zip", "bin\\client.exe", delta::Status::SourceMismatch},
        {L"package.zip", "Build\\Velview_G_201.ocx", delta::Status::SourceMismatch},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.modified ? c.modified : "damaged package");
        const fs::path app = Installation(L"refused");
        if (c.modified) {
            std::fstream f(app / c.modified, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(100);
            f.put('\x7f');
        }
        const auto before = Contents(app);
        const delta::Result r = Apply(app, c.package);
        EXPECT_EQ(r.status, c.status) << r.file << ": " << r.detail;
        EXPECT_TRUE(delta::FallsBackToFullArchive(r.status));
        EXPECT_EQ(Contents(app), before);
    }
}

}  // namespace
}  // namespace vantorix::services
