// The installation an elevated step accepts: one the setup registered (found through HKLM and compared by
// what the folders' handles lead to) whose folder and every folder above it only the administrators can
// change. Runs under root's Wine, which is the administrator there (its own user counts as one; see
// launcher/app/protected_installation.h): Wine's descriptors come from the Unix owner and mode bits, and
// SetSecurityInfo changes those bits, which is how a folder others may write is made here.
#include "launcher/app/protected_installation.h"
#include "win/folder_security.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <string>

using namespace vantorix::launcher;

namespace {

// The last of the setup's entries: the shared prefix's first one may belong to a scenario's installation.
constexpr wchar_t kTestEntry[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VantorixAssist-20";

std::wstring Folder(const std::wstring& name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"protected " + name;
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

void Register(const std::wstring& folder) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTestEntry, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void Unregister() { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kTestEntry, KEY_WOW64_32KEY, 0); }

// Everyone may change the folder (under Wine: mode 777).
bool OpenToEveryone(const std::wstring& folder) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    const DWORD set = SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                            nullptr, nullptr, dacl, nullptr);
    LocalFree(descriptor);
    return set == ERROR_SUCCESS;
}

}  // namespace

TEST(ProtectedInstallation, TheRegisteredFoldersAreTheSetupsInstallLocations) {
    const std::wstring folder = Folder(L"registered");
    Register(folder);
    const auto registered = RegisteredInstallFolders();
    Unregister();
    EXPECT_NE(std::find(registered.begin(), registered.end(), folder), registered.end());
    const auto after = RegisteredInstallFolders();
    EXPECT_EQ(std::find(after.begin(), after.end(), folder), after.end());
}

TEST(ProtectedInstallation, FoldersAreComparedByWhatTheirHandlesLeadToNotByText) {
    const std::wstring folder = Folder(L"same");
    const std::wstring copy = Folder(L"same copy");
    std::wstring upper = folder;
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    EXPECT_TRUE(SameFolder(folder, upper));
    EXPECT_TRUE(SameFolder(folder, folder + L"\\"));
    EXPECT_TRUE(SameFolder(folder, folder + L"\\..\\" + folder.substr(folder.find_last_of(L'\\') + 1)));
    EXPECT_FALSE(SameFolder(folder, copy));
    EXPECT_FALSE(SameFolder(folder, folder + L" missing"));
    const auto resolved = ResolvedFolder(upper);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->find(L"\\\\?\\"), std::wstring::npos);
    EXPECT_TRUE(SameFolder(*resolved, folder));
}

TEST(ProtectedInstallation, UnderWineTheAccountItRunsAsCountsAsTheAdministrators) {
    if (!vantorix::win::RunsUnderWine()) GTEST_SKIP() << "Wine only";
    const auto trusted = vantorix::win::TrustedBesidesTheAdministrators();
    ASSERT_EQ(trusted.size(), 1u);
    unsigned long error = 0;
    const auto security = ReadFolderSecurity(Folder(L"owned"), error);
    ASSERT_TRUE(security) << error;
    EXPECT_EQ(security->owner, trusted[0]);  // what root owns, root's Wine shows as its own user's
}

TEST(ProtectedInstallation, AFolderEveryoneMayChangeIsNotProtectedNorIsAnythingBelowIt) {
    const std::wstring folder = Folder(L"open"), below = folder + L"\\installation";
    CreateDirectoryW(below.c_str(), nullptr);
    const auto resolved = ResolvedFolder(below);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(WhyNotProtected(*resolved), L"") << "the temporary folder of the administrator should be protected";
    ASSERT_TRUE(OpenToEveryone(folder));
    const std::wstring why = WhyNotProtected(*resolved);
    EXPECT_NE(why.find(L"S-1-1-0 holds"), std::wstring::npos) << why;
    EXPECT_NE(why.find(L"protected open:"), std::wstring::npos) << why;  // the folder above is named
    EXPECT_NE(WhyNotProtected(*ResolvedFolder(folder)).find(L"S-1-1-0 holds"), std::wstring::npos);
    RemoveDirectoryW(below.c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST(ProtectedInstallation, AStepAcceptsOnlyTheRegisteredProtectedFolderItRunsFrom) {
    const std::wstring installation = Folder(L"installation"), copy = Folder(L"copy");
    Register(installation);
    const StepInstallation accepted = CheckStepInstallation(installation);
    EXPECT_TRUE(accepted.accepted);
    EXPECT_TRUE(SameFolder(accepted.folder, installation));
    EXPECT_EQ(accepted.log_folder, accepted.folder);
    EXPECT_TRUE(accepted.findings.empty());

    // A copy elsewhere is refused; the refusal may go to the registered installation's log.
    const StepInstallation refused = CheckStepInstallation(copy);
    EXPECT_FALSE(refused.accepted);
    EXPECT_TRUE(refused.folder.empty());
    EXPECT_TRUE(SameFolder(refused.log_folder, installation));
    ASSERT_EQ(refused.findings.size(), 1u);
    EXPECT_NE(refused.findings[0].find(L"is not an installation the setup registered"), std::wstring::npos);

    // Registered, but others may change it: refused, and nothing is written into it.
    Register(copy);
    ASSERT_TRUE(OpenToEveryone(copy));
    const StepInstallation open = CheckStepInstallation(copy);
    Unregister();
    EXPECT_FALSE(open.accepted);
    EXPECT_TRUE(open.log_folder.empty());
    ASSERT_EQ(open.findings.size(), 1u);
    EXPECT_NE(open.findings[0].find(L"is not protected"), std::wstring::npos);
    RemoveDirectoryW(copy.c_str());
}
