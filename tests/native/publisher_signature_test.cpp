#include <gtest/gtest.h>

#include "common/integrity/publisher_signature.h"

namespace {

using vantorix::integrity::MustCarryPublisherSignature;
using vantorix::integrity::PublisherSignatureRefusal;
using vantorix::integrity::SignatureFacts;

TEST(PublisherSignature, OurExecutablesMustBeSignedWhateverTheirCase) {
    EXPECT_TRUE(MustCarryPublisherSignature("VantorixAssist.exe"));
    EXPECT_TRUE(MustCarryPublisherSignature("BIN\\Client.EXE"));
    EXPECT_TRUE(MustCarryPublisherSignature("bin/client.exe"));
    EXPECT_TRUE(MustCarryPublisherSignature("build\\velview_g_201.ocx"));
    EXPECT_FALSE(MustCarryPublisherSignature("bin\\node.dll"));  // the maker's outside engine
    EXPECT_FALSE(MustCarryPublisherSignature("Skin\\UI.html"));
    EXPECT_FALSE(MustCarryPublisherSignature("client.exe"));
    EXPECT_FALSE(MustCarryPublisherSignature("bin\\client.exe.bak"));
}

TEST(PublisherSignature, OnlyAValidSignatureByTheLauncherSignerPasses) {
    const SignatureFacts launcher{true, 0, "1.2.840.10045.2.1:KEY-A", "Vantorix"};
    const SignatureFacts same{true, 0, "1.2.840.10045.2.1:KEY-A", "Vantorix"};
    EXPECT_EQ(PublisherSignatureRefusal(same, launcher), std::nullopt);

    struct Case {
        const char* what;
        SignatureFacts file;
        SignatureFacts launcher;
        const char* refusal_mentions;
    } cases[] = {
        {"unsigned", {false, 0x800B0100, "", ""}, launcher, "no valid Authenticode signature (0x800B0100)"},
        {"tampered after signing", {false, 0x80096010, "1.2.840.10045.2.1:KEY-A", "Vantorix"}, launcher,
         "an invalid Authenticode signature (0x80096010)"},
        {"another signer, same name", {true, 0, "1.2.840.10045.2.1:KEY-B", "Vantorix"}, launcher, "not by the running"},
        {"a valid verdict without a signer", {true, 0, "", ""}, launcher, "no signer certificate"},
        {"the launcher is unsigned", same, {false, 0x800B0100, "", ""}, "running launcher carries no valid signature"},
        {"the launcher's own signature is broken", same, {false, 0x80096010, "1.2.840.10045.2.1:KEY-A", "Vantorix"},
         "running launcher carries no valid signature"},
    };
    for (const Case& c : cases) {
        const auto refusal = PublisherSignatureRefusal(c.file, c.launcher);
        ASSERT_TRUE(refusal.has_value()) << c.what;
        EXPECT_NE(refusal->find(c.refusal_mentions), std::string::npos) << c.what << ": " << *refusal;
    }
}

}  // namespace
