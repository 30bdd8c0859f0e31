// Starting programs from a quoted command line: what the started program receives, and that paths with
// spaces and non-ASCII names start the program they name.
#include "win/process.h"
#include "win/end_program.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <fstream>
#include <string>
#include <vector>

using vantorix::win::BuildCommandLine;
using vantorix::win::StartProgramTracked;

namespace {

std::vector<std::wstring> Split(const std::wstring& line) {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(line.c_str(), &count);
    std::vector<std::wstring> parts(argv, argv + count);
    LocalFree(argv);
    return parts;
}

std::wstring TempFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + name;
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

std::string ReadAll(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(CommandLine, EveryArgumentArrivesAsItWasGiven) {
    const std::vector<std::vector<std::wstring>> cases = {
        {L"C:\\Program Files\\app\\client.exe", L"-2018.06.21"},
        {L"C:\\app\\client.exe"},
        {L"a.exe", L""},
        {L"a.exe", L"two words", L"tab\there"},
        {L"a.exe", L"say \"hi\"", L"\"", L"\\\"", L"ends with \\"},
        {L"a.exe", L"C:\\dir with space\\", L"back\\\\slashes\\\\"},
        {L"C:\\安装 目录\\注册控件.exe", L"中文 参数"},
    };
    for (const auto& parts : cases) {
        std::vector<std::wstring> arguments(parts.begin() + 1, parts.end());
        EXPECT_EQ(Split(BuildCommandLine(parts[0], arguments)), parts) << BuildCommandLine(parts[0], arguments);
    }
}

TEST(StartProgram, ABatchFileInAFolderWithSpacesAndChineseNameRunsAndIsWaitedFor) {
    const std::wstring folder = TempFolder(L"带 空格 folder");
    const std::wstring script = folder + L"\\注册 控件.bat", out = folder + L"\\out.txt";
    DeleteFileW(out.c_str());
    {
        std::ofstream bat(script.c_str(), std::ios::binary);
        bat << "@echo off\r\necho ran %1> \"%~dp0out.txt\"\r\n";
    }
    auto process = StartProgramTracked(script, {L"first"}, SW_HIDE);
    ASSERT_TRUE(process);
    ASSERT_EQ(WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
    EXPECT_EQ(ReadAll(out), "ran first\r\n");
}

TEST(StartProgram, AProgramThatDoesNotExistIsReportedNotStarted) {
    EXPECT_FALSE(StartProgramTracked(TempFolder(L"empty") + L"\\no such program.exe", {}, SW_HIDE));
}

TEST(StartProgram, CmdRunsItsCommandWithTheGivenArguments) {
    const std::wstring out = TempFolder(L"cmdout") + L"\\echo.txt";
    DeleteFileW(out.c_str());
    auto process = StartProgramTracked(L"cmd", {L"/c", L"echo", L"hello>" + out}, SW_HIDE);
    ASSERT_TRUE(process);
    ASSERT_EQ(WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
    EXPECT_EQ(ReadAll(out).substr(0, 5), "hello");
}

// Not a test of its own: the process the finder tests look for, started from this very program.
TEST(Helper, DISABLED_StaysForAMinute) { Sleep(60000); }

TEST(FindProcessesOfImage, AFoundProcessKeepsItsIdUntilItIsLetGoSoNoOtherProcessCanTakeIt) {
    wchar_t own[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    auto child = StartProgramTracked(own, {L"--gtest_also_run_disabled_tests", L"--gtest_filter=Helper.DISABLED_StaysForAMinute"},
                                     SW_HIDE);
    ASSERT_TRUE(child);
    const DWORD id = GetProcessId(child.get());
    auto found = vantorix::win::FindProcessesOfImage(own, PROCESS_TERMINATE | SYNCHRONIZE);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].id, id);
    // It ends, and this test lets go of its own handle: only the finder's handle holds the id now.
    ASSERT_TRUE(TerminateProcess(child.get(), 3));
    ASSERT_EQ(WaitForSingleObject(child.get(), 30000), WAIT_OBJECT_0);
    child.reset();
    vantorix::win::unique_kernel_handle again(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    ASSERT_TRUE(again) << "the id is free: another process could get it";
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(again.get(), &code));
    EXPECT_EQ(code, 3u) << "the id names another process than the one found";
    // Ending the found process acts on the ended one, through its own handle.
    EXPECT_EQ(WaitForSingleObject(found[0].handle.get(), 0), WAIT_OBJECT_0);
}

TEST(StartProgramAsShellUser, StartsAsTheShellsUserOrNotAtAllNeverWithTheCallersRights) {
    // The setup's finish page goes through this from an elevated installer. Wine sets no shell window;
    // Windows has the desktop's explorer.
    const std::wstring folder = TempFolder(L"as shell user");
    const std::wstring out = folder + L"\\echo.txt";
    DeleteFileW(out.c_str());
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    auto process = vantorix::win::StartProgramAsShellUser(std::wstring(system) + L"\\cmd.exe",
                                                          {L"/c", L"echo", L"started>" + out}, SW_HIDE);
    if (!GetShellWindow()) {
        EXPECT_FALSE(process);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));
        Sleep(500);
        EXPECT_EQ(GetFileAttributesW(out.c_str()), INVALID_FILE_ATTRIBUTES) << "started without the shell's token";
        return;
    }
    ASSERT_TRUE(process) << GetLastError();
    ASSERT_EQ(WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
    EXPECT_EQ(ReadAll(out).substr(0, 7), "started");
}
