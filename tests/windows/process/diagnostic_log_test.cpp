// The support log: records land as whole lines with their code, the file stays within its bound by
// rotating once, the user's profile folder never appears in it, and a link in the log's place is not
// written through.
#include "win/diagnostic_log.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <fstream>
#include <string>

namespace diag = vantorix::win::diag;

namespace {

std::wstring FreshFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + name;
    for (const wchar_t* file : {L"\\log.txt", L"\\log.txt.1", L"\\sub\\log.txt"}) DeleteFileW((folder + file).c_str());
    RemoveDirectoryW((folder + L"\\sub").c_str());
    RemoveDirectoryW(folder.c_str());
    return folder;
}

std::string ReadAll(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

LONGLONG SizeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

TEST(DiagnosticLog, RecordsAreWholeLinesWithTheirCodeAndNoProfileFolder) {
    const std::wstring log = FreshFolder(L"diag-lines") + L"\\sub\\log.txt";
    ASSERT_TRUE(diag::OpenLog(log));  // its folders are made
    EXPECT_EQ(diag::LogPath(), log);
    wchar_t profile[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, profile), S_OK);
    diag::Record(L"update", L"archive refused: wrong hash", 0x80070005);
    diag::Record(L"update", std::wstring(L"cannot write ") + profile + L"\\AppData\\x.zip");
    SetLastError(ERROR_ACCESS_DENIED);
    diag::RecordLastError(L"install", L"cannot create the journal");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));  // the caller's error is kept

    const std::string text = ReadAll(log);
    EXPECT_NE(text.find("update: archive refused: wrong hash (code 0x80070005)\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("update: cannot write %USERPROFILE%\\AppData\\x.zip\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("install: cannot create the journal (code 0x00000005)\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Z 0 "), std::string::npos);  // the process id is there, not 0
    EXPECT_EQ(text.substr(0, 2), "20");              // each line begins with its UTC time
}

TEST(DiagnosticLog, StaysWithinTwiceItsLimitByRotatingOnce) {
    const std::wstring folder = FreshFolder(L"diag-rotate");
    const std::wstring log = folder + L"\\log.txt";
    ASSERT_TRUE(diag::OpenLog(log, 4096));
    for (int i = 0; i < 500; ++i) diag::Record(L"download", L"attempt " + std::to_wstring(i) + L" failed", 12002);
    EXPECT_LE(SizeOf(log), 4096);
    EXPECT_GT(SizeOf(log + L".1"), 3000);
    EXPECT_LE(SizeOf(log + L".1"), 4096);
    // The newest line is in the current file, the one before the rotation in the older one.
    EXPECT_NE(ReadAll(log).find("attempt 499 failed"), std::string::npos);
    EXPECT_EQ(ReadAll(log + L".1").find("attempt 499 failed"), std::string::npos);
    EXPECT_EQ(ReadAll(log).find("attempt 0 failed"), std::string::npos);
}

TEST(DiagnosticLog, AFolderInTheLogsPlaceLeavesRecordsWithTheDebuggerOnly) {
    const std::wstring folder = FreshFolder(L"diag-refused");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\log.txt").c_str(), nullptr));
    EXPECT_FALSE(diag::OpenLog(folder + L"\\log.txt"));
    EXPECT_EQ(diag::LogPath(), L"");
    diag::Record(L"update", L"nowhere to write");  // must not fail or throw
    EXPECT_TRUE(GetFileAttributesW((folder + L"\\log.txt").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryW((folder + L"\\log.txt").c_str());
}

TEST(DiagnosticLog, ThePerUserLogLivesInTheUsersLocalApplicationData) {
    wchar_t local[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local), S_OK);
    EXPECT_EQ(diag::PerUserLogPath(L"launcher.log"), std::wstring(local) + L"\\VantorixAssist\\logs\\launcher.log");
}
