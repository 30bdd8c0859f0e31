// Unzip on the Win32 file API: the layout an update produces, "\" folder forms, block sizes, replacing
// files, Chinese names, and hostile archives that must not write anything anywhere.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "launcher/services/archive_check.h"
#include "launcher/services/install_state_store.h"
#include "launcher/services/manifest_verification.h"
#include "launcher/services/install_archive.h"
#include "launcher/services/services.h"
#include "launcher/services/win32_file_system.h"
#include "launcher/services/wide_text.h"
#include "win/process.h"
#include "tests/native/unzip_zip_builder.h"

namespace vantorix::services {
namespace {

using testing::PatternBytes;
using testing::ZipBuilder;
using testing::ZipEntrySpec;

void WriteFileBytes(const std::wstring& path, const std::string& data) {
    MakePath(FolderPart(path));
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &done, nullptr);
    CloseHandle(h);
}

std::optional<std::string> ReadFileBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string data;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) data.append(buffer, got);
    CloseHandle(h);
    return data;
}

// Every file and folder below root, relative, "\" separated, folders with a trailing "\".
void List(const std::wstring& root, const std::wstring& rel, std::set<std::wstring>& out) {
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((root + rel + L"*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.insert(rel + name + L"\\");
            List(root, rel + name + L"\\", out);
        } else {
            out.insert(rel + name);
        }
    } while (FindNextFileW(h, &data));
    FindClose(h);
}

void RemoveTree(const std::wstring& root) {
    std::set<std::wstring> all;
    List(root, L"", all);
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        std::wstring p = root + *it;
        if (p.back() == L'\\') RemoveDirectoryW(p.c_str());
        else DeleteFileW(p.c_str());
    }
    RemoveDirectoryW(root.c_str());
}

// A scratch folder (with a Chinese name, so every path the extractor touches is non-ASCII) holding the
// archive "更新.zip" and the target "App".
class Scratch {
public:
    Scratch() {
        static int n = 0;
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);  // ends with a backslash
        root_ = std::wstring(temp) + L"vx-解压-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(n++) + L"\\";
        RemoveTree(root_);
        MakePath(root_);
    }
    ~Scratch() { RemoveTree(root_); }
    std::wstring archive() const { return root_ + L"更新.zip"; }
    std::wstring app() const { return root_ + L"App\\"; }
    UnzipResult Run(const std::string& zip, const std::wstring& folder_suffix = L"") {
        WriteFileBytes(archive(), zip);
        return UnzipToFolder(root_ + L"App" + folder_suffix, archive());
    }
    // Everything but the archive once the next start has settled the install: its work files are gone
    // then, and the empty work folder the run made is left out.
    std::set<std::wstring> Everything() const {
        EXPECT_NE(RecoverInterruptedInstall(app()), InstallRecovery::Failed);
        std::set<std::wstring> all;
        List(root_, L"", all);
        all.erase(L"更新.zip");
        std::set<std::wstring> work;
        List(app() + L"update\\", L"", work);
        if (work.empty()) all.erase(L"App\\update\\");
        return all;
    }

private:
    std::wstring root_;
};

TEST(UnzipWindows, UpdateLayoutForEveryFolderForm) {
    for (const wchar_t* suffix : {L"", L"\\", L"\\\\"}) {
        SCOPED_TRACE(Utf8(suffix));
        Scratch s;
        auto r = s.Run(ZipBuilder().File("bin/client.exe", "MZ new").File("Skin/UI.html", "<html>").Build(), suffix);
        ASSERT_TRUE(r) << Utf8(UnzipStatusText(r.status)) << " " << Utf8(r.entry);
        EXPECT_EQ(r.files_written, 2u);
        EXPECT_EQ(ReadFileBytes(s.app() + L"bin\\client.exe"), "MZ new");
        EXPECT_EQ(ReadFileBytes(s.app() + L"Skin\\UI.html"), "<html>");
        EXPECT_EQ(s.Everything(), (std::set<std::wstring>{L"App\\", L"App\\bin\\", L"App\\bin\\client.exe", L"App\\Skin\\", L"App\\Skin\\UI.html"}));
    }
}

TEST(UnzipWindows, BlockSizesReplacementCaseAndChineseNames) {
    Scratch s;
    WriteFileBytes(s.app() + L"bin\\client.exe", std::string(50000, 'O'));
    ZipBuilder zip;
    const std::string sizes[] = {"", PatternBytes(2048), PatternBytes(2049), PatternBytes(300000, 3)};
    zip.File("e0.bin", sizes[0]).File("e2048.bin", sizes[1]).File("e2049.bin", sizes[2]).File("big.bin", sizes[3]);
    zip.File("bin/client.exe", "short").File("Skin/MixedCase.HTML", "m");
    ZipEntrySpec chinese{"皮肤/界面.html", "中文内容", true, 0, 0x800, false, 0, ""};
    zip.Add(chinese);
    auto r = s.Run(zip.Build());
    ASSERT_TRUE(r) << Utf8(UnzipStatusText(r.status)) << " " << Utf8(r.entry);
    EXPECT_EQ(ReadFileBytes(s.app() + L"e0.bin"), sizes[0]);
    EXPECT_TRUE(ReadFileBytes(s.app() + L"e2048.bin") == sizes[1]);
    EXPECT_TRUE(ReadFileBytes(s.app() + L"e2049.bin") == sizes[2]);
    EXPECT_TRUE(ReadFileBytes(s.app() + L"big.bin") == sizes[3]);
    EXPECT_EQ(ReadFileBytes(s.app() + L"bin\\client.exe"), "short");
    EXPECT_EQ(ReadFileBytes(s.app() + L"皮肤\\界面.html"), "中文内容");
    EXPECT_EQ(s.Everything().count(L"App\\Skin\\MixedCase.HTML"), 1u);
    for (const auto& p : s.Everything()) EXPECT_EQ(p.find(L".vxpart"), std::wstring::npos) << Utf8(p);
}

TEST(UnzipWindows, NonArchivesAndHostileArchivesWriteNothingAnywhere) {
    struct Case { const char* what; std::string zip; UnzipStatus status; } cases[] = {
        {"text file", "not a zip at all", UnzipStatus::NotAnArchive},
        {"parent folder", ZipBuilder().File("ok.txt", "x").File("../evil.txt", "p").Build(), UnzipStatus::UnsafeName},
        {"backslash parent", ZipBuilder().File("ok.txt", "x").File("bin\\..\\..\\evil.txt", "p").Build(), UnzipStatus::UnsafeName},
        {"drive letter", ZipBuilder().File("ok.txt", "x").File("C:\\evil.txt", "p").Build(), UnzipStatus::UnsafeName},
        {"drive relative", ZipBuilder().File("ok.txt", "x").File("C:evil.txt", "p").Build(), UnzipStatus::UnsafeName},
        {"absolute", ZipBuilder().File("ok.txt", "x").File("/evil.txt", "p").Build(), UnzipStatus::UnsafeName},
        {"UNC", ZipBuilder().File("ok.txt", "x").File("\\\\127.0.0.1\\c$\\evil.txt", "p").Build(), UnzipStatus::UnsafeName},
        {"device path", ZipBuilder().File("ok.txt", "x").File("\\\\?\\C:\\evil.txt", "p").Build(), UnzipStatus::UnsafeName},
        {"device name", ZipBuilder().File("ok.txt", "x").File("bin/CON", "p").Build(), UnzipStatus::UnsafeName},
        {"device with extension", ZipBuilder().File("ok.txt", "x").File("nul.txt", "p").Build(), UnzipStatus::UnsafeName},
        {"stream", ZipBuilder().File("ok.txt", "x").File("ok.txt:hidden", "p").Build(), UnzipStatus::UnsafeName},
        {"trailing dot", ZipBuilder().File("ok.txt", "x").File("evil.", "p").Build(), UnzipStatus::UnsafeName},
        {"bad CRC", ZipBuilder().File("ok.txt", "x").Add({"z.bin", PatternBytes(5000), true, 0, 0, true, 0, ""}).Build(), UnzipStatus::DamagedEntry},
        {"size lie", ZipBuilder().File("ok.txt", "x").Add({"z.bin", PatternBytes(5000), true, 0, 0, false, 7, ""}).Build(), UnzipStatus::DamagedEntry},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch s;
        auto r = s.Run(c.zip);
        EXPECT_EQ(r.status, c.status) << Utf8(UnzipStatusText(r.status)) << " " << Utf8(r.entry);
        EXPECT_TRUE(s.Everything().empty()) << Utf8(*s.Everything().begin());
    }
    EXPECT_FALSE(GetFileAttributesW(L"C:\\evil.txt") != INVALID_FILE_ATTRIBUTES);
    Scratch missing;
    EXPECT_EQ(UnzipToFolder(missing.app(), missing.archive()).status, UnzipStatus::NotAnArchive);
    EXPECT_TRUE(missing.Everything().empty());
}

TEST(UnzipWindows, FolderThatCannotBeCreatedFails) {
    Scratch s;
    WriteFileBytes(s.app() + L"blocker", "a file where a folder should go");
    EXPECT_FALSE(MakePath(s.app() + L"blocker\\inner"));
    EXPECT_FALSE(MakePath(s.app() + L"bad|name\\inner"));
    auto made = MakePath(s.app() + L"a\\\\b\\c");
    ASSERT_TRUE(made);
    EXPECT_EQ(*made, s.app() + L"a\\b\\c\\");
    auto r = UnzipToFolder(s.app() + L"blocker\\inner", s.archive());
    EXPECT_FALSE(r);
    WriteFileBytes(s.archive(), ZipBuilder().File("x.txt", "x").Build());
    r = UnzipToFolder(s.app() + L"blocker\\inner", s.archive());
    EXPECT_EQ(r.status, UnzipStatus::CannotCreateFolder);
}

TEST(UnzipWindows, FileInUseIsReportedAndKeptIntact) {
    Scratch s;
    WriteFileBytes(s.app() + L"bin\\client.exe", "running client");
    // Like a running program: open without sharing delete or write.
    HANDLE busy = CreateFileW((s.app() + L"bin\\client.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    WriteFileBytes(s.app() + L"Skin\\UI.html", "old page");
    auto r = s.Run(ZipBuilder().File("Skin/UI.html", "new page").File("bin/client.exe", "new client").Build());
    CloseHandle(busy);
    EXPECT_EQ(r.status, UnzipStatus::CannotWriteFile);
    EXPECT_EQ(r.files_written, 0u);
    // Nothing of the update is laid down while one of its files cannot be replaced.
    EXPECT_EQ(ReadFileBytes(s.app() + L"bin\\client.exe"), "running client");
    EXPECT_EQ(ReadFileBytes(s.app() + L"Skin\\UI.html"), "old page");
    EXPECT_EQ(s.Everything(), (std::set<std::wstring>{L"App\\", L"App\\bin\\", L"App\\bin\\client.exe", L"App\\Skin\\", L"App\\Skin\\UI.html"}));
}

// Path -> content of every file below root ("\\" for a folder).
std::map<std::wstring, std::string> Tree(const std::wstring& root) {
    std::set<std::wstring> all;
    List(root, L"", all);
    std::map<std::wstring, std::string> tree;
    for (const std::wstring& p : all) tree[p] = p.back() == L'\\' ? "\\" : ReadFileBytes(root + p).value_or("?");
    return tree;
}

std::wstring KillTool() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return FolderPart(std::wstring(self)) + L"install_kill_tool.exe";
}

// Runs the install in a process of its own that ends itself after kill_after file-system changes.
DWORD InstallInChild(const std::wstring& folder, const std::wstring& archive, long kill_after) {
    auto process = win::StartProgramTracked(KillTool(), {folder, archive, std::to_wstring(kill_after)}, SW_HIDE);
    if (!process) return 999;
    if (WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0) return 998;
    DWORD code = 997;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

TEST(UnzipWindows, AProcessKilledAfterAnyCommitStepLeavesAWhollyOldOrWhollyNewInstallationAfterRecovery) {
    const std::string zip = ZipBuilder()
                                .File("Skin/UI.html", "new page")
                                .File("bin/data/filler.bin", PatternBytes(70000))
                                .File("bin/client.exe", "new client")
                                .Build();
    auto prepare = [&](Scratch& s) {
        WriteFileBytes(s.app() + L"bin\\client.exe", "old client");
        WriteFileBytes(s.app() + L"Skin\\UI.html", "old page");
        WriteFileBytes(s.archive(), zip);
        MakePath(s.app() + L"update");
    };
    Scratch reference;
    prepare(reference);
    const auto old_tree = Tree(reference.app());
    ASSERT_EQ(InstallInChild(reference.app(), reference.archive(), -1), 0u);
    // The install settled itself: nothing is left for the next start.
    ASSERT_EQ(RecoverInterruptedInstall(reference.app()), InstallRecovery::Nothing);
    const auto new_tree = Tree(reference.app());
    ASSERT_EQ(new_tree.at(L"bin\\client.exe"), "new client");
    // Every change of a run: the staging writes, the journal, each move, the mark and the clean-up.
    constexpr long kSteps = 24;
    int old_outcomes = 0, new_outcomes = 0;
    for (long kill_after = 0; kill_after <= kSteps; ++kill_after) {
        SCOPED_TRACE("killed after " + std::to_string(kill_after) + " changes");
        Scratch s;
        prepare(s);
        const DWORD code = InstallInChild(s.app(), s.archive(), kill_after);
        ASSERT_TRUE(code == 3 || code == 0) << code;
        // The killed process's install lock went with it.
        const InstallRecovery recovery = RecoverInterruptedInstall(s.app());
        ASSERT_TRUE(recovery == InstallRecovery::Nothing || recovery == InstallRecovery::RolledBack ||
                    recovery == InstallRecovery::Finished) << static_cast<int>(recovery);
        const auto tree = Tree(s.app());
        if (tree == old_tree) {
            ++old_outcomes;
        } else {
            ASSERT_TRUE(tree == new_tree) << "a mixed installation";
            ++new_outcomes;
        }
        if (code == 0) break;  // the run got through before the kill: every later count is the same
    }
    EXPECT_GT(old_outcomes, 0);
    EXPECT_GT(new_outcomes, 0);
}

TEST(UnzipWindows, DuplicateNamesAsWindowsComparesThemAreRefused) {
    Scratch s;
    WriteFileBytes(s.app() + L"bin\\client.exe", "old client");
    auto utf8 = [](const char* name, const char* data) { return ZipEntrySpec{name, data, true, 0, 0x800, false, 0, ""}; };
    const std::string cases[] = {
        ZipBuilder().File("bin/client.exe", "a").File("BIN/CLIENT.EXE", "b").Build(),
        ZipBuilder().File("bin/client.exe", "a").File("bin/Client.exe", "b").Build(),
        ZipBuilder().File("bin/client.exe", "a").Add(utf8("Ä.txt", "b")).Add(utf8("ä.txt", "c")).Build(),
    };
    for (const std::string& zip : cases) {
        auto r = s.Run(zip);
        EXPECT_EQ(r.status, UnzipStatus::UnsafeName);
        EXPECT_EQ(ReadFileBytes(s.app() + L"bin\\client.exe"), "old client");
    }
}

TEST(UnzipWindows, ProgressIsReportedAndTheVolumeOfTheFolderMustHoldTheUnpackedTotal) {
    Scratch s;
    WriteFileBytes(s.app() + L"bin\\client.exe", "old client");
    EXPECT_GT(Win32FileSystem().FreeBytes(Utf8(s.app())).value_or(0), 0u);  // GetDiskFreeSpaceEx answers
    WriteFileBytes(s.archive(), ZipBuilder().File("bin/client.exe", PatternBytes(300000)).Build());
    unsigned long long done = 0, total = 0;
    int calls = 0;
    auto r = UnzipToFolder(s.app(), s.archive(), [&](unsigned long long d, unsigned long long t) {
        done = d, total = t, ++calls;
    });
    ASSERT_EQ(r.status, UnzipStatus::Ok);
    EXPECT_GT(calls, 1);
    EXPECT_EQ(done, 300000u);
    EXPECT_EQ(total, 300000u);
}

TEST(ArchiveCheck, Sha256ThroughThePlatformAndTheVerdictOnAFile) {
    Scratch s;
    WriteFileBytes(s.archive(), "abc");
    auto digest = Sha256OfFile(s.archive());
    ASSERT_TRUE(digest);
    EXPECT_EQ(integrity::HexText(*digest), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Larger than one read block, so the hash runs over several.
    const std::string big = PatternBytes(3 << 20);
    WriteFileBytes(s.archive(), big);
    int blocks = 0;  // the caller's window gets its turn between blocks
    const auto big_digest = Sha256OfFile(s.archive(), [&] { ++blocks; });
    ASSERT_TRUE(big_digest);
    EXPECT_EQ(blocks, 3);
    auto published = [&](const std::string& size, const std::string& hash) {
        return *integrity::ParseExpectedArchive(size, hash);
    };
    const std::string size = std::to_string(big.size()), hash = integrity::HexText(*big_digest);
    using integrity::ArchiveVerdict;
    EXPECT_EQ(CheckArchive(s.archive(), published(size, hash)), ArchiveVerdict::Matches);
    EXPECT_EQ(CheckArchive(s.archive(), published("", "")), ArchiveVerdict::Matches);
    EXPECT_EQ(CheckArchive(s.archive(), published(std::to_string(big.size() + 1), hash)), ArchiveVerdict::WrongSize);
    std::string other = hash;
    other[0] = other[0] == '0' ? '1' : '0';
    EXPECT_EQ(CheckArchive(s.archive(), published(size, other)), ArchiveVerdict::WrongHash);
    EXPECT_EQ(CheckArchive(s.app() + L"missing.zip", published(size, hash)), ArchiveVerdict::Unreadable);
}

// Signatures made by update_package.py with openssl (run_services_tests.sh) verify through BCrypt: the
// archive's over its digest, the manifest's over its payload (serial 3); any change of the archive, the
// signature or the key does not.
TEST(ArchiveCheck, TheMakersSignaturesAreVerifiedByThePlatform) {
    auto env = [](const wchar_t* name) {
        wchar_t value[1024] = {};
        DWORD n = GetEnvironmentVariableW(name, value, 1024);
        return std::string(value, value + (n < 1024 ? n : 0));
    };
    const std::string file = env(L"VX_SIGNED_FILE"), key_hex = env(L"VX_PUBLIC_KEY");
    auto signature = integrity::DecodeBase64(env(L"VX_SIGNATURE"));
    ASSERT_TRUE(signature && key_hex.size() == 128) << "run through run_services_tests.sh";
    UpdatePublicKey key{};
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(std::stoul(key_hex.substr(2 * i, 2), nullptr, 16));
    auto digest = Sha256OfFile(Wide(file));
    ASSERT_TRUE(digest);
    EXPECT_TRUE(VerifyDigestSignature(*digest, *signature, key));
    auto other_digest = *digest;
    other_digest[31] ^= 1;
    EXPECT_FALSE(VerifyDigestSignature(other_digest, *signature, key));
    std::string other_signature = *signature;
    other_signature[10] ^= 0x40;
    EXPECT_FALSE(VerifyDigestSignature(*digest, other_signature, key));
    EXPECT_FALSE(VerifyDigestSignature(*digest, signature->substr(0, 63), key));
    auto other_key = key;
    other_key[5] ^= 1;  // no longer a point of the curve, or another key: refused either way
    EXPECT_FALSE(VerifyDigestSignature(*digest, *signature, other_key));

    // The archive check of a launcher built with the key: a valid signature by one of its keys is required.
    using integrity::ArchiveVerdict;
    integrity::ExpectedArchive published;
    published.signature = *signature;
    const integrity::UpdateKeys current{key, std::nullopt}, next{other_key, key}, other{other_key, std::nullopt};
    EXPECT_EQ(CheckArchive(Wide(file), published, current), ArchiveVerdict::Matches);
    EXPECT_EQ(CheckArchive(Wide(file), published, next), ArchiveVerdict::Matches);  // signed by the next key
    EXPECT_EQ(CheckArchive(Wide(file), published, other), ArchiveVerdict::BadSignature);
    EXPECT_EQ(CheckArchive(Wide(file), integrity::ExpectedArchive{}, current), ArchiveVerdict::MissingSignature);
    Scratch s;
    WriteFileBytes(s.archive(), "a tampered update archive");
    EXPECT_EQ(CheckArchive(s.archive(), published, current), ArchiveVerdict::BadSignature);
    EXPECT_EQ(CheckArchive(s.archive(), published), ArchiveVerdict::Matches);  // built without a key: as before

    const auto signed_manifest = ReadFileBytes(Wide(env(L"VX_SIGNED_MANIFEST")));
    ASSERT_TRUE(signed_manifest);
    install_state::InstallState state;
    const int64_t now = UnixTimeNow();
    EXPECT_LE(std::llabs(now - static_cast<int64_t>(std::time(nullptr))), 2);
    EXPECT_EQ(VerifyManifest(*signed_manifest, current, state, now).signed_by, integrity::KeySlot::Current);
    EXPECT_EQ(VerifyManifest(*signed_manifest, next, state, now).signed_by, integrity::KeySlot::Next);
    EXPECT_EQ(VerifyManifest(*signed_manifest, other, state, now).refusal, manifest::Refusal::UnknownSigner);
    state.manifest_serial = 4;
    EXPECT_EQ(VerifyManifest(*signed_manifest, current, state, now).refusal, manifest::Refusal::LowerSerial);
}

// The installation's state is written whole and keeps what other versions wrote; where the installation
// cannot be written, the per-user copy takes the serial and every reader sees it.
TEST(InstallStateStore, TheAcceptedSerialGoesWhereThisProcessCanWriteAndKeepsTheOtherKeys) {
    Scratch s;
    const std::wstring folder = s.app() + L"可写";
    ASSERT_TRUE(MakePath(folder + L"\\update\\"));
    const std::wstring file = folder + kInstallStatePath;
    WriteFileBytes(file, "rollout_draw=4\nfuture=x\n");
    EXPECT_EQ(RecordAcceptedSerial(folder, 7), StateWritten::Installation);
    EXPECT_EQ(ReadFileBytes(file).value_or(""), "manifest_serial=7\nrollout_draw=4\nfuture=x\n");
    EXPECT_FALSE(ReadFileBytes(file + L".new"));
    EXPECT_EQ(RecordAcceptedSerial(folder, 5), StateWritten::Installation);  // never lowered
    EXPECT_EQ(ReadInstallState(folder).state.manifest_serial, 7u);

    // An "update" that is a file: nothing can be written below it, as in a folder only administrators may
    // write.
    const std::wstring locked = s.app() + L"只读";
    ASSERT_TRUE(MakePath(locked + L"\\"));
    WriteFileBytes(locked + L"\\update", "not a folder");
    const std::wstring per_user = PerUserStatePath(locked);
    ASSERT_FALSE(per_user.empty());
    EXPECT_EQ(RecordAcceptedSerial(locked, 9), StateWritten::PerUser);
    EXPECT_EQ(ReadFileBytes(per_user).value_or(""), "manifest_serial=9\n");
    EXPECT_EQ(ReadInstallState(locked).state.manifest_serial, 9u);
    DeleteFileW(per_user.c_str());
    RemoveDirectoryW(FolderPart(per_user).c_str());

    // The per-user folder's name: the same for every spelling of the path's case, 16 hex digits of SHA-256.
    EXPECT_EQ(InstallationId(L"C:\\Program Files\\VantorixAssist"), L"e454774ca28bd94a");
    EXPECT_EQ(InstallationId(L"c:\\program files\\vantorixassist"), L"e454774ca28bd94a");
    EXPECT_NE(InstallationId(folder), InstallationId(locked));
}

// The rollout draw is made once and read back: from the installation's state before the per-user copy's,
// the per-user one where the installation cannot be written, and the elevated step's makes the user's
// draw the installation's.
TEST(InstallStateStore, TheRolloutDrawIsMadeOnceAndTheInstallationsCountsFirst) {
    Scratch s;
    const std::wstring folder = s.app() + L"抽签";
    ASSERT_TRUE(MakePath(folder + L"\\update\\"));
    const auto drawn = RolloutDraw(folder);
    ASSERT_TRUE(drawn);
    EXPECT_EQ(ReadFileBytes(folder + kInstallStatePath).value_or(""), "rollout_draw=" + std::to_string(*drawn) + "\n");
    EXPECT_EQ(RolloutDraw(folder), drawn);
    EXPECT_EQ(RolloutDraw(folder, DrawPlace::Installation), drawn);

    const std::wstring per_user = PerUserStatePath(folder);
    ASSERT_TRUE(MakePath(FolderPart(per_user) + L"\\"));
    WriteFileBytes(per_user, "rollout_draw=7\n");
    EXPECT_EQ(RolloutDraw(folder), drawn);  // the installation's, whatever the user's copy says
    WriteFileBytes(folder + kInstallStatePath, "manifest_serial=3\nrollout_draw=4294967296\n");  // not a draw
    EXPECT_EQ(RolloutDraw(folder), 7u);
    EXPECT_EQ(RolloutDraw(folder, DrawPlace::Installation), 7u);
    EXPECT_EQ(ReadFileBytes(folder + kInstallStatePath).value_or(""), "manifest_serial=3\nrollout_draw=7\n");
    DeleteFileW(per_user.c_str());
    RemoveDirectoryW(FolderPart(per_user).c_str());

    // Where nothing of the installation can be written, the user's copy keeps the draw.
    const std::wstring locked = s.app() + L"只读抽签";
    ASSERT_TRUE(MakePath(locked + L"\\"));
    WriteFileBytes(locked + L"\\update", "not a folder");
    const auto users = RolloutDraw(locked);
    ASSERT_TRUE(users);
    EXPECT_EQ(ReadFileBytes(PerUserStatePath(locked)).value_or(""), "rollout_draw=" + std::to_string(*users) + "\n");
    EXPECT_EQ(RolloutDraw(locked), users);
    DeleteFileW(PerUserStatePath(locked).c_str());
    RemoveDirectoryW(FolderPart(PerUserStatePath(locked)).c_str());
}

// A second launcher's start-up recovery while another process commits (held before its third move)
// touches nothing and says so; once that process has ended, the next start settles its install.
TEST(UnzipWindows, RecoveryLeavesAnInstallThatALiveProcessCommitsAlone) {
    Scratch s;
    WriteFileBytes(s.app() + L"bin\\client.exe", "old client");
    WriteFileBytes(s.app() + L"Skin\\UI.html", "old page");
    MakePath(s.app() + L"update");
    WriteFileBytes(s.archive(), ZipBuilder().File("Skin/UI.html", "new page").File("bin/client.exe", "new client").Build());
    auto process = win::StartProgramTracked(KillTool(), {s.app(), s.archive(), L"p2"}, SW_HIDE);
    ASSERT_TRUE(process);
    const std::wstring id = std::to_wstring(GetProcessId(process.get()));
    win::unique_kernel_handle paused(CreateEventW(nullptr, TRUE, FALSE, (L"Local\\vx-install-paused-" + id).c_str()));
    win::unique_kernel_handle go(CreateEventW(nullptr, TRUE, FALSE, (L"Local\\vx-install-go-" + id).c_str()));
    HANDLE either[] = {paused.get(), process.get()};
    ASSERT_EQ(WaitForMultipleObjects(2, either, FALSE, 60000), WAIT_OBJECT_0) << "the install did not reach its pause";
    const auto mid_commit = Tree(s.app());
    EXPECT_EQ(RecoverInterruptedInstall(s.app()), InstallRecovery::Busy);
    EXPECT_TRUE(Tree(s.app()) == mid_commit);
    SetEvent(go.get());
    ASSERT_EQ(WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(RecoverInterruptedInstall(s.app()), InstallRecovery::Nothing);
    EXPECT_EQ(ReadFileBytes(s.app() + L"bin\\client.exe"), "new client");
    EXPECT_EQ(ReadFileBytes(s.app() + L"Skin\\UI.html"), "new page");
}

// The archive is held from its check to the end of its unpacking: a program of the same user that tries
// to write it, rename it away, put another file in its place or delete it right after the check fails,
// and what is installed is what was checked. An archive from outside the work folder is copied in first.
TEST(InstallArchive, TheCheckedArchiveCannotBeReplacedBeforeItIsUnpacked) {
    for (bool in_work_folder : {true, false}) {
        SCOPED_TRACE(in_work_folder ? "the downloaded archive in update\\" : "an archive from elsewhere");
        Scratch s;
        WriteFileBytes(s.app() + L"bin\\client.exe", "old client");
        MakePath(s.app() + L"update");
        const std::string zip = ZipBuilder().File("bin/client.exe", "checked client").Build();
        const std::wstring archive = in_work_folder ? s.app() + L"update\\newtemp.zip" : s.archive();
        WriteFileBytes(archive, zip);
        const std::wstring other = s.app() + L"other.zip";
        WriteFileBytes(other, ZipBuilder().File("bin/client.exe", "swapped client").Build());
        const std::wstring held = s.app() + L"update\\newtemp.zip";
        auto expected = *integrity::ParseExpectedArchive(std::to_string(zip.size()), integrity::HexText(*Sha256OfFile(archive)));
        std::vector<std::string> attempts;
        InstallProgress progress;
        progress.checked = [&] {
            win::unique_hfile writer(CreateFileW(held.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                 nullptr, OPEN_EXISTING, 0, nullptr));
            if (writer) attempts.push_back("opened for writing");
            if (MoveFileExW(held.c_str(), (held + L".away").c_str(), MOVEFILE_REPLACE_EXISTING)) attempts.push_back("renamed away");
            if (MoveFileExW(other.c_str(), held.c_str(), MOVEFILE_REPLACE_EXISTING)) attempts.push_back("replaced");
            if (DeleteFileW(held.c_str())) attempts.push_back("deleted");
        };
        const InstallResult result = InstallArchive(s.app(), archive, expected, {}, progress);
        ASSERT_TRUE(result) << Utf8(UnzipStatusText(result.unpacked.status)) << " " << Utf8(result.unpacked.entry);
        EXPECT_TRUE(attempts.empty()) << attempts.front();
        EXPECT_EQ(result.files, std::vector<std::wstring>{L"bin\\client.exe"});
        EXPECT_EQ(ReadFileBytes(s.app() + L"bin\\client.exe"), "checked client");
        EXPECT_FALSE(ReadFileBytes(held));  // installed: the archive went
        EXPECT_EQ(ReadFileBytes(archive).has_value(), !in_work_folder);  // a source elsewhere is not ours
    }
    // One that does not match what was published is refused before anything is written.
    Scratch s;
    WriteFileBytes(s.app() + L"bin\\client.exe", "old client");
    WriteFileBytes(s.archive(), ZipBuilder().File("bin/client.exe", "unpublished").Build());
    auto published = *integrity::ParseExpectedArchive("12", "");
    const InstallResult refused = InstallArchive(s.app(), s.archive(), published, {});
    ASSERT_TRUE(refused.refused);
    EXPECT_EQ(*refused.refused, integrity::ArchiveVerdict::WrongSize);
    EXPECT_EQ(ReadFileBytes(s.app() + L"bin\\client.exe"), "old client");
    EXPECT_FALSE(ReadFileBytes(s.app() + L"update\\newtemp.zip"));
}

TEST(PathParts, WindowsPaths) {
    EXPECT_EQ(FileNamePart(L"C:\\App\\bin\\client.exe"), L"client.exe");
    EXPECT_EQ(FolderPart(L"C:\\App\\bin\\client.exe"), L"C:\\App\\bin\\");
    EXPECT_EQ(FileNamePart(L"client.exe"), L"client.exe");
    EXPECT_EQ(FolderPart(L"client.exe"), L"");
}

}  // namespace
}  // namespace vantorix::services
