// What the launcher writes into its installation folder and what it clears before a download.
#include "launcher/app/installation.h"
#include "launcher/app/update_place.h"
#include "win/unique_handle.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

using vantorix::launcher::Installation;
using vantorix::launcher::FolderAccess;
using vantorix::launcher::ProbeFolder;
using vantorix::launcher::ReadSideFileUrl;
using vantorix::launcher::UpdatePlace;

namespace {

std::wstring FreshFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"launcher app " + name;
    // Remove what an earlier run left (files one level deep and in update\, Build\).
    for (const wchar_t* sub : {L"\\update\\", L"\\Build\\", L"\\"}) {
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((folder + sub + L"*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) continue;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((folder + sub + found.cFileName).c_str());
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    RemoveDirectoryW((folder + L"\\update").c_str());
    RemoveDirectoryW((folder + L"\\Build").c_str());
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

void Write(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(path.c_str(), std::ios::binary);
    out << bytes;
}

std::string Read(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

TEST(Marker, IsWrittenWithItsLineBreakAndItsFolderIsMadeWhenMissing) {
    const Installation installation(FreshFolder(L"marker"));
    ASSERT_FALSE(Exists(installation.Path(L"\\Build")));
    ASSERT_TRUE(installation.CreateMarker());
    const std::string text = Read(installation.Path(L"\\Build\\installock.txt"));
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_TRUE(installation.Exists(L"\\Build\\installock.txt"));
}

TEST(Marker, AFolderThatCannotHoldItReportsFailure) {
    // A file standing where the Build folder should be: the marker cannot be made.
    const Installation installation(FreshFolder(L"blocked"));
    Write(installation.Path(L"\\Build"), "not a folder");
    EXPECT_FALSE(installation.CreateMarker());
    DeleteFileW(installation.Path(L"\\Build").c_str());
}

TEST(UpdateFolder, IsCreatedOnceAndKept) {
    const Installation installation(FreshFolder(L"update folder"));
    installation.EnsureUpdateFolder();
    Write(installation.Path(L"\\update\\keep.txt"), "x");
    installation.EnsureUpdateFolder();
    EXPECT_EQ(Read(installation.Path(L"\\update\\keep.txt")), "x");
}

TEST(SideFileUrl, IsReadTrimmedAndEmptyWhenMissing) {
    const std::wstring folder = FreshFolder(L"side file");
    Write(folder + L"\\a.cfg", "  http://127.0.0.1/newtemp.zip  ");
    EXPECT_EQ(ReadSideFileUrl(folder + L"\\a.cfg"), L"http://127.0.0.1/newtemp.zip");
    EXPECT_EQ(ReadSideFileUrl(folder + L"\\missing.cfg"), L"");
}

TEST(StaleArchive, IsClearedUnlessItsSideFilesAreADownloadToResume) {
    const std::wstring url = L"http://127.0.0.1:8080/newtemp.zip";
    struct Case {
        const char* name;
        bool archive, data, settings;
        std::string settings_url;
        bool data_kept;  // the data side file survives (a resumable download of the same URL)
    };
    const std::vector<Case> cases = {
        {"archive alone", true, false, false, "", false},
        {"same URL: resumable", true, true, true, "http://127.0.0.1:8080/newtemp.zip", true},
        {"same URL with blanks", false, true, true, " http://127.0.0.1:8080/newtemp.zip ", true},
        {"another URL", true, true, true, "http://127.0.0.1:9/other.zip", false},
        {"data without settings", false, true, false, "", false},
        {"settings without data", false, false, true, "http://127.0.0.1:8080/newtemp.zip", false},
    };
    for (const auto& c : cases) {
        const Installation installation(FreshFolder(L"stale"));
        installation.EnsureUpdateFolder();
        const std::wstring archive = installation.Path(L"\\update\\newtemp.zip");
        if (c.archive) Write(archive, "old archive");
        if (c.data) Write(archive + L".dl", "half");
        if (c.settings) Write(archive + L".dl.cfg", c.settings_url);
        UpdatePlace(installation.Path(L"\\update"), false).ClearStaleArchive(url);
        EXPECT_FALSE(Exists(archive)) << c.name;
        EXPECT_EQ(Exists(archive + L".dl"), c.data_kept) << c.name;
        EXPECT_EQ(Exists(archive + L".dl.cfg"), c.data_kept) << c.name;
        if (c.data_kept) {
            EXPECT_EQ(Read(archive + L".dl"), "half") << c.name;
        }
    }
}

TEST(Archive, DeleteRemovesTheArchiveItsSideFilesAndTheManifestCopyOnly) {
    const Installation installation(FreshFolder(L"delete"));
    installation.EnsureUpdateFolder();
    const UpdatePlace place(installation.Path(L"\\update"), true);
    for (const wchar_t* name : {L"newtemp.zip", L"newtemp.zip.dl", L"newtemp.zip.dl.cfg", L"newtemp.zip.dl.tag",
                                L"newtemp.json", L"other.txt"})
        Write(installation.Path(L"\\update\\") + name, "x");
    place.DeleteArchive();
    for (const wchar_t* name : {L"newtemp.zip", L"newtemp.zip.dl", L"newtemp.zip.dl.cfg", L"newtemp.zip.dl.tag",
                                L"newtemp.json"})
        EXPECT_FALSE(installation.Exists(std::wstring(L"\\update\\") + name));
    EXPECT_TRUE(installation.Exists(L"\\update\\other.txt"));
}

TEST(UpdatePlace, AWritableUpdateFolderIsUsedAndTheProbeLeavesNothing) {
    const Installation installation(FreshFolder(L"probe"));
    EXPECT_EQ(ProbeFolder(installation.Path(L"\\update")), FolderAccess::Missing);
    installation.EnsureUpdateFolder();
    EXPECT_EQ(ProbeFolder(installation.Path(L"\\update")), FolderAccess::Writable);
    const UpdatePlace place = UpdatePlace::For(installation);
    EXPECT_FALSE(place.ElevatedInstall());
    EXPECT_EQ(place.Archive(), installation.Path(L"\\update\\newtemp.zip"));
    WIN32_FIND_DATAW found;
    vantorix::win::unique_find search(FindFirstFileW(installation.Path(L"\\update\\*.tmp").c_str(), &found));
    EXPECT_FALSE(search) << "the probe left a file";
}
