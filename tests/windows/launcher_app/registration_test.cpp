// How the launcher starts its registration step: its own program with "-register", elevated through the
// shell's "runas" verb when it runs without elevation; a refusal is told apart from a failure.
#include "launcher/app/registration.h"
#include "launcher/app/control_library.h"

#include <gtest/gtest.h>

#include <string>

using vantorix::launcher::Installation;
using vantorix::launcher::Registration;
using vantorix::launcher::RegistrationStarter;
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


}  // namespace

TEST(Registration, WithoutElevationTheLaunchersOwnStepIsAskedForWithRunas) {
    g_shell = {};
    Installation installation(L"C:\\Program Files\\Vantorix");
    Registration registration(installation, RegistrationStarter{&NotElevated, &RecordShell});
    EXPECT_EQ(registration.Start(), RegistrationStart::Started);
    EXPECT_EQ(g_shell.count, 1);
    EXPECT_EQ(g_shell.verb, L"runas");
    EXPECT_EQ(g_shell.file, L"C:\\Program Files\\Vantorix\\VantorixAssist.exe");
    EXPECT_EQ(g_shell.parameters, L"-register");
    EXPECT_EQ(g_shell.folder, L"C:\\Program Files\\Vantorix");
}

TEST(Registration, ADeclinedElevationIsToldApartFromAFailure) {
    Installation installation(L"C:\\Vantorix");
    Registration registration(installation, RegistrationStarter{&NotElevated, &RecordShell});
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
