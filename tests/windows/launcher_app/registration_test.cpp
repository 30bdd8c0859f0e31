// How the launcher starts the registration script: elevated through the shell's "runas" verb when it
// runs without elevation, by the system's own cmd.exe; a refusal is told apart from a failure.
#include "launcher/app/registration.h"

#include <gtest/gtest.h>

#include <string>

using vantorix::launcher::Installation;
using vantorix::launcher::Registration;
using vantorix::launcher::ScriptStarter;
using vantorix::update_flow::RegistrationStart;

namespace {

struct ShellCall {
    int count = 0;
    std::wstring verb, file, parameters, folder;
    DWORD error = 0;  // 0: the start succeeds
} g_shell;

BOOL WINAPI RecordShell(SHELLEXECUTEINFOW* info) {
    ++g_shell.count;
    g_shell.verb = info->lpVerb ? info->lpVerb : L"";
    g_shell.file = info->lpFile ? info->lpFile : L"";
    g_shell.parameters = info->lpParameters ? info->lpParameters : L"";
    g_shell.folder = info->lpDirectory ? info->lpDirectory : L"";
    info->hProcess = nullptr;
    if (g_shell.error == 0) return TRUE;
    SetLastError(g_shell.error);
    return FALSE;
}

bool NotElevated() { return false; }

std::wstring SystemFile(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\" + name;
}

}  // namespace

TEST(Registration, WithoutElevationTheScriptIsAskedForWithRunasThroughTheSystemCmd) {
    g_shell = {};
    Installation installation(L"C:\\Program Files\\Vantorix");
    Registration registration(installation, ScriptStarter{&NotElevated, &RecordShell});
    EXPECT_EQ(registration.Start(), RegistrationStart::Started);
    EXPECT_EQ(g_shell.count, 1);
    EXPECT_EQ(g_shell.verb, L"runas");
    EXPECT_EQ(CompareStringOrdinal(g_shell.file.c_str(), -1, SystemFile(L"cmd.exe").c_str(), -1, TRUE), CSTR_EQUAL)
        << std::string(g_shell.file.begin(), g_shell.file.end());
    EXPECT_EQ(g_shell.parameters, L"/d /s /c \"\"C:\\Program Files\\Vantorix\\Build\\注册控件.bat\"\"");
    EXPECT_EQ(g_shell.folder, L"C:\\Program Files\\Vantorix\\Build");
}

TEST(Registration, ADeclinedElevationIsToldApartFromAFailure) {
    Installation installation(L"C:\\Vantorix");
    Registration registration(installation, ScriptStarter{&NotElevated, &RecordShell});
    g_shell = {};
    g_shell.error = ERROR_CANCELLED;
    EXPECT_EQ(registration.Start(), RegistrationStart::Declined);
    g_shell.error = ERROR_FILE_NOT_FOUND;
    EXPECT_EQ(registration.Start(), RegistrationStart::Failed);
    EXPECT_FALSE(registration.Running());
}

TEST(Registration, ClassesThatAreNotRegisteredAreNotInstalled) {
    // A file name no class of this machine is registered with.
    EXPECT_FALSE(vantorix::launcher::ControlClassesRegisteredAt(L"C:\\nowhere\\Velview_G_201.ocx"));
}
