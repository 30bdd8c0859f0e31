#include <gtest/gtest.h>

#include "common/folder_rights/folder_rights.h"

namespace {

namespace fr = vantorix::folder_rights;

constexpr uint32_t kFull = 0x001F01FF, kReadExecute = 0x001200A9, kModify = 0x001301BF;
constexpr uint8_t kOiCi = 0x03, kOiCiIo = 0x0B;

fr::Descriptor ProgramFiles() {
    return {fr::kAdministrators, true,
            {{fr::kSystem, true, kOiCi, kFull}, {fr::kAdministrators, true, kOiCi, kFull}, {fr::kUsers, true, kOiCi, kReadExecute}}};
}

TEST(FolderRights, ProgramFilesRightsLetOnlyTheSystemAndAdministratorsWrite) {
    fr::Descriptor folder = ProgramFiles();
    EXPECT_EQ(fr::OtherWriters(folder), std::nullopt);
    EXPECT_TRUE(fr::IsProgramFilesLike(folder, true));
    EXPECT_FALSE(fr::IsProgramFilesLike(folder, false));  // inheritance not cut
    // What Windows gives "Program Files" itself: TrustedInstaller too, and CREATOR OWNER for what is made inside.
    folder.owner = fr::kTrustedInstaller;
    folder.aces.push_back({fr::kTrustedInstaller, true, kOiCi, kFull});
    folder.aces.push_back({fr::kCreatorOwner, true, kOiCiIo, 0x10000000});
    EXPECT_EQ(fr::OtherWriters(folder), std::nullopt);
    EXPECT_FALSE(fr::IsProgramFilesLike(folder, true));
}

TEST(FolderRights, AnyoneElseWhoMayChangeTheFolderIsNamed) {
    struct Case {
        const char* what;
        fr::Descriptor folder;
        const char* mentions;
    } cases[] = {
        {"a folder under C:\\ (Authenticated Users: Modify)",
         {fr::kAdministrators, true, {{fr::kSystem, true, kOiCi, kFull}, {"S-1-5-11", true, kOiCi, kModify}}}, "S-1-5-11"},
        {"Users may add files", {fr::kAdministrators, true, {{fr::kUsers, true, kOiCi, kReadExecute | 0x2}}}, "S-1-5-32-545"},
        {"Everyone may delete it", {fr::kAdministrators, true, {{"S-1-1-0", true, 0, 0x00010000}}}, "S-1-1-0"},
        {"Users may take it over", {fr::kAdministrators, true, {{fr::kUsers, true, 0, 0x00080000}}}, "0x00080000"},
        {"a generic write for what is created inside", {fr::kAdministrators, true, {{fr::kUsers, true, kOiCiIo, 0x40000000}}},
         "S-1-5-32-545"},
        {"owned by a user", {"S-1-5-21-1-2-3-1000", true, {{fr::kSystem, true, kOiCi, kFull}}}, "owned by S-1-5-21-1-2-3-1000"},
        {"no owner", {"", true, {}}, "no owner"},
        {"a NULL access list", {fr::kAdministrators, false, {}}, "everyone"},
    };
    for (const Case& c : cases) {
        const auto others = fr::OtherWriters(c.folder);
        ASSERT_TRUE(others.has_value()) << c.what;
        EXPECT_NE(others->find(c.mentions), std::string::npos) << c.what << ": " << *others;
        EXPECT_FALSE(fr::IsProgramFilesLike(c.folder, true)) << c.what;
    }
    // What Wine reports for a folder of mode 755 and of mode 777: the Wine user, counted as the administrator
    // there, owns it; Everyone may read, or also write.
    const std::string wine_user = "S-1-5-21-0-0-0-1000";
    fr::Descriptor wine_755{wine_user, true, {{fr::kSystem, true, kOiCi, kFull}, {wine_user, true, kOiCi, kFull}, {"S-1-1-0", true, kOiCi, kReadExecute}}};
    EXPECT_EQ(fr::OtherWriters(wine_755, wine_user), std::nullopt);
    EXPECT_NE(fr::OtherWriters(wine_755), std::nullopt);  // elsewhere that owner is a user like any other
    fr::Descriptor wine_777 = wine_755;
    wine_777.aces[2].mask = kFull;
    EXPECT_NE(fr::OtherWriters(wine_777, wine_user), std::nullopt);
    // A denying entry grants nothing; reading and running grant nothing that changes the folder.
    fr::Descriptor denied{fr::kAdministrators, true, {{fr::kUsers, false, kOiCi, kFull}, {"S-1-1-0", true, kOiCi, kReadExecute}}};
    EXPECT_EQ(fr::OtherWriters(denied), std::nullopt);
}

}  // namespace
