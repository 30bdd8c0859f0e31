// The rule by which the setup accepts the folder it installs into and the elevated steps accept their
// installation and the folders above it, over the descriptors real folders carry: Windows' own (as icacls and SDDL show them) and Wine 8's, which makes one
// up from the Unix owner and mode bits (root's Wine shows what root owns as its own user's, every other
// Unix owner as ANONYMOUS LOGON, the "other" bits as Everyone, the group bits not at all).
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "common/folder_rights/folder_rights.h"

namespace vantorix::folder_rights {
namespace {

constexpr char kTi[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr char kWineUser[] = "S-1-5-21-0-0-0-1000";  // the one account a Wine prefix shows as its user

// A small reading of the SDDL the descriptors are quoted in: "O:<sid>D:[P](<type>;<flags>;<rights>;;;<sid>)...",
// SIDs as aliases (SY BA BU AU WD AN CO TI) or in full, rights as FA/GA/GR/GW/GX or "0x..." (SDDL has more
// forms; these are the ones quoted here).
std::string Sid(const std::string& text) {
    static const std::map<std::string, std::string> aliases = {
        {"SY", "S-1-5-18"}, {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"}, {"AU", "S-1-5-11"},
        {"WD", "S-1-1-0"},  {"AN", "S-1-5-7"},      {"CO", "S-1-3-0"},      {"TI", kTi}};
    const auto it = aliases.find(text);
    return it == aliases.end() ? text : it->second;
}

uint32_t Rights(const std::string& text) {
    if (text.rfind("0x", 0) == 0) return static_cast<uint32_t>(std::stoul(text, nullptr, 16));
    uint32_t mask = 0;
    for (size_t at = 0; at < text.size(); at += 2) {
        const std::string two = text.substr(at, 2);
        if (two == "FA") mask |= rights::kFileAllAccess;
        else if (two == "GA") mask |= rights::kGenericAll;
        else if (two == "GR") mask |= rights::kGenericRead;
        else if (two == "GW") mask |= rights::kGenericWrite;
        else if (two == "GX") mask |= rights::kGenericExecute;
        else if (two == "SD") mask |= rights::kDelete;
        else if (two == "LC") mask |= rights::kAddSubfolder;
        else ADD_FAILURE() << "rights not read here: " << two;
    }
    return mask;
}

FolderSecurity Parse(const std::string& sddl) {
    FolderSecurity security;
    const size_t dacl = sddl.find("D:");
    security.dacl_protected = sddl.compare(dacl == std::string::npos ? 0 : dacl, 3, "D:P") == 0;
    if (sddl.rfind("O:", 0) == 0) security.owner = Sid(sddl.substr(2, dacl == std::string::npos ? std::string::npos : dacl - 2));
    if (dacl == std::string::npos) return security;
    security.dacl.emplace();
    for (size_t open = sddl.find('(', dacl); open != std::string::npos; open = sddl.find('(', open + 1)) {
        std::string fields[6];
        std::string entry = sddl.substr(open + 1, sddl.find(')', open) - open - 1);
        for (int i = 0; i < 6; ++i) {
            const size_t semi = entry.find(';');
            fields[i] = entry.substr(0, semi);
            entry = semi == std::string::npos ? "" : entry.substr(semi + 1);
        }
        Ace ace;
        ace.kind = fields[0] == "A" || fields[0] == "XA" ? AceKind::Allow : fields[0] == "D" ? AceKind::Deny : AceKind::Unknown;
        for (size_t at = 0; at + 1 < fields[1].size(); at += 2) {
            const std::string flag = fields[1].substr(at, 2);
            ace.flags |= flag == "OI" ? kObjectInherit : flag == "CI" ? kContainerInherit : flag == "IO" ? kInheritOnly : 0;
        }
        ace.mask = Rights(fields[2]);
        ace.sid = Sid(fields[5]);
        security.dacl->push_back(ace);
    }
    return security;
}

struct Case {
    const char* what;
    const char* sddl;
    FolderRole role;
    bool under_wine;  // root's Wine: its own user counts as the administrators
    const char* fault;  // nullptr: passes; else a part of the reason
};

TEST(FolderRights, FoldersOnlyTheAdministratorsCanChangePassOthersNameWhoCould) {
    const Case cases[] = {
        // Windows 10, as shipped.
        {"C:\\Program Files",
         "O:TID:P(A;;FA;;;TI)(A;CIIO;GA;;;TI)(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
         "(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;S-1-15-2-1)(A;OICIIO;GXGR;;;S-1-15-2-1)",
         FolderRole::Above, false, nullptr},
        {"C:\\ (signed-in users may create folders there)",
         "O:SYD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)",
         FolderRole::Above, false, nullptr},
        {"the setup's folder: inheritance cut, SYSTEM and Administrators full, Users read",
         "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", FolderRole::Installation, false, nullptr},
        {"the same folder inheriting from Program Files",
         "O:BAD:AI(A;ID;0x1301bf;;;SY)(A;OICIIOID;GA;;;SY)(A;ID;0x1301bf;;;BA)(A;OICIIOID;GA;;;BA)(A;ID;0x1200a9;;;BU)"
         "(A;OICIIOID;GA;;;CO)",
         FolderRole::Installation, false, nullptr},
        {"a folder made under C:\\ (inherits Authenticated Users: Modify)",
         "O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)",
         FolderRole::Installation, false, "S-1-5-11 holds"},
        {"C:\\ as the installation itself (users may add folders to it)",
         "O:SYD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;;LC;;;AU)", FolderRole::Installation, false,
         "S-1-5-11 holds 0x00000004"},
        {"owned by a user, rights as Program Files'", "O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
         FolderRole::Above, false, "owner S-1-5-21-1-2-3-1001"},
        {"owned by an administrator's own account (its unelevated programs could change the DACL)",
         "O:S-1-5-21-1-2-3-500D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", FolderRole::Installation, false, "owner S-1-5-21-1-2-3-500"},
        {"no owner", "D:P(A;OICI;FA;;;SY)", FolderRole::Installation, false, "no owner"},
        {"no DACL", "O:BA", FolderRole::Installation, false, "no DACL"},
        {"Everyone may delete children above", "O:BAD:(A;;FA;;;BA)(A;;0x40;;;WD)", FolderRole::Above, false,
         "S-1-1-0 holds 0x00000040"},
        {"Users may change the DACL above", "O:BAD:(A;;FA;;;BA)(A;;0x40000;;;BU)", FolderRole::Above, false,
         "S-1-5-32-545 holds 0x00040000"},
        {"generic all for Users, on the folder itself", "O:BAD:(A;;FA;;;BA)(A;;GA;;;BU)", FolderRole::Above, false,
         "S-1-5-32-545 holds"},
        {"generic write above adds entries, displaces none", "O:BAD:(A;;FA;;;BA)(A;;GW;;;BU)", FolderRole::Above, false, nullptr},
        {"generic write on the installation", "O:BAD:(A;;FA;;;BA)(A;;GW;;;BU)", FolderRole::Installation, false,
         "S-1-5-32-545 holds"},
        {"a denying entry takes nothing away from the verdict", "O:BAD:(D;;FA;;;BU)(A;;FA;;;BA)", FolderRole::Installation,
         false, nullptr},
        {"an object entry is not read here", "O:BAD:(A;;FA;;;BA)(OA;;FA;;;BU)", FolderRole::Installation, false,
         "not read here"},
        {"the installation: Users may write what is created inside it (the installed files would inherit it)",
         "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GW;;;BU)", FolderRole::Installation, false, "S-1-5-32-545 holds"},
        {"the same entry above the installation: only what is created there",
         "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GW;;;BU)", FolderRole::Above, false, nullptr},
        {"Everyone may delete the installation", "O:BAD:(A;;FA;;;BA)(A;;SD;;;WD)", FolderRole::Installation, false,
         "S-1-1-0 holds 0x00010000"},
        {"a conditional entry counts as what it allows", "O:BAD:(A;;FA;;;BA)(XA;;0x2;;;BU)", FolderRole::Installation,
         false, "S-1-5-32-545 holds 0x00000002"},
        // Wine 8, seen from root's Wine (Unix owner root, mode 755; 1777 /tmp; 757; another Unix owner).
        {"Wine: root's folder, 755",
         "O:S-1-5-21-0-0-0-1000D:(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-0-0-0-1000)(A;OICI;0x1200a9;;;WD)",
         FolderRole::Installation, true, nullptr},
        {"Wine: root's folder, 755, judged as Windows would",
         "O:S-1-5-21-0-0-0-1000D:(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-0-0-0-1000)(A;OICI;0x1200a9;;;WD)",
         FolderRole::Installation, false, "owner S-1-5-21-0-0-0-1000"},
        {"Wine: /tmp (1777) above",
         "O:S-1-5-21-0-0-0-1000D:(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-0-0-0-1000)(A;OICI;0x1301ff;;;WD)",
         FolderRole::Above, true, "S-1-1-0 holds 0x00010040"},
        {"Wine: root's folder, 757",
         "O:S-1-5-21-0-0-0-1000D:(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-0-0-0-1000)(A;OICI;0x1301ff;;;WD)",
         FolderRole::Installation, true, "S-1-1-0 holds"},
        {"Wine: a folder of another Unix account", "O:AND:(A;OICI;FA;;;SY)(A;OICI;FA;;;AN)(A;OICI;0x1200a9;;;WD)",
         FolderRole::Above, true, "owner S-1-5-7"},
        {"Wine: another account's folder after root set a protected DACL on it (mode 555)",
         "O:AND:(A;OICI;FA;;;SY)(A;OICI;0x1e00a9;;;AN)(A;OICI;0x1200a9;;;WD)", FolderRole::Installation, true, "owner S-1-5-7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Verdict verdict = JudgeFolder(Parse(c.sddl), c.role, c.under_wine ? std::vector<std::string>{kWineUser}
                                                                               : std::vector<std::string>{});
        EXPECT_EQ(verdict.passes, c.fault == nullptr) << verdict.why;
        if (c.fault) {
            EXPECT_NE(verdict.why.find(c.fault), std::string::npos) << verdict.why;
        }
    }
}

TEST(FolderRights, OnlyTheSetupsOwnRightsAreProgramFilesLike) {
    EXPECT_TRUE(IsProgramFilesLike(Parse("O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)")));
    EXPECT_TRUE(JudgeFolder(Parse("O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"), FolderRole::Installation).passes);
    const char* not_so[] = {
        "O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)",    // inheritance not cut
        "O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)",   // another owner
        "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)",   // Users may modify
        "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;0x1200a9;;;BU)", // Users only below
        "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICI;FA;;;TI)",  // one entry more
        "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(D;OICI;0x1200a9;;;BU)",   // denied, not allowed
        "O:BA",                                                           // no DACL
    };
    for (const char* sddl : not_so) EXPECT_FALSE(IsProgramFilesLike(Parse(sddl))) << sddl;
}

TEST(FolderRights, GenericRightsStandForTheFileRights) {
    EXPECT_EQ(MapGenericFileRights(rights::kMaximumAllowed), rights::kFileAllAccess);
    EXPECT_EQ(MapGenericFileRights(rights::kGenericAll), rights::kFileAllAccess);
    EXPECT_EQ(MapGenericFileRights(rights::kGenericWrite | 0x20), rights::kFileGenericWrite | 0x20);
    EXPECT_EQ(MapGenericFileRights(rights::kGenericRead | rights::kGenericExecute),
              rights::kFileGenericRead | rights::kFileGenericExecute);
    // What a folder above must keep to the trusted is a part of what the installation must.
    EXPECT_EQ(GuardedRights(FolderRole::Above) & ~GuardedRights(FolderRole::Installation), 0u);
    EXPECT_EQ(GuardedRights(FolderRole::Installation) & rights::kFileGenericRead, 0u);
}

}  // namespace
}  // namespace vantorix::folder_rights
