// The installation's state file: read and written back without losing a line of another version, broken
// lines named without their values, and the two copies combined the way every reader combines them.
#include <gtest/gtest.h>

#include "common/install_state/install_state.h"

namespace vantorix::install_state {
namespace {

TEST(InstallState, ARewriteKeepsEveryKeyAndTheValuesAsRead) {
    const ParsedState parsed = ParseInstallState("manifest_serial=41\r\nfuture_key=a=b\n\nrollout_draw=7\nother=\n");
    EXPECT_TRUE(parsed.problems.empty());
    EXPECT_EQ(parsed.state.manifest_serial, 41u);
    EXPECT_EQ(parsed.state.rollout_draw, 7u);
    InstallState raised = parsed.state;
    raised.manifest_serial = 42;
    const std::string text = FormatInstallState(raised);
    EXPECT_EQ(text, "manifest_serial=42\nrollout_draw=7\nfuture_key=a=b\nother=\n");
    EXPECT_EQ(ParseInstallState(text).state, raised);
    EXPECT_EQ(FormatInstallState(InstallState{}), "");
}

TEST(InstallState, BrokenLinesCountAsAbsentAndAreNamedWithoutTheirValues) {
    struct Case { const char* text; uint64_t serial; const char* problem; } cases[] = {
        {"manifest_serial=abc\n", 0, "line 1: manifest_serial is not a decimal number"},
        {"manifest_serial=-3\n", 0, "line 1: manifest_serial is not a decimal number"},
        {"manifest_serial= 3\n", 0, "line 1: manifest_serial is not a decimal number"},
        {"manifest_serial=18446744073709551616\n", 0, "line 1: manifest_serial is not a decimal number"},
        {"manifest_serial=18446744073709551615\n", UINT64_MAX, nullptr},
        {"manifest_serial=5\nsecret text without equals\n", 5, "line 2 is not key=value"},
        {"=5\nmanifest_serial=3\nmanifest_serial=9", 9, "line 1 is not key=value"},  // the last value counts
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const ParsedState parsed = ParseInstallState(c.text);
        EXPECT_EQ(parsed.state.manifest_serial, c.serial);
        if (c.problem) {
            ASSERT_EQ(parsed.problems.size(), 1u);
            EXPECT_EQ(parsed.problems[0], c.problem);
        } else {
            EXPECT_TRUE(parsed.problems.empty());
        }
    }
}

TEST(InstallState, AReaderTakesTheHigherSerialAndTheInstallationsDraw) {
    InstallState installation, per_user;
    installation.manifest_serial = 5;
    per_user.manifest_serial = 9;
    per_user.rollout_draw = 2;
    EXPECT_EQ(Combine(installation, per_user).manifest_serial, 9u);
    EXPECT_EQ(Combine(installation, per_user).rollout_draw, 2u);  // the installation has none yet
    installation.rollout_draw = 4;
    per_user.manifest_serial = 3;  // a user's copy cannot lower what the installation accepted
    EXPECT_EQ(Combine(installation, per_user).manifest_serial, 5u);
    EXPECT_EQ(Combine(installation, per_user).rollout_draw, 4u);
}

}  // namespace
}  // namespace vantorix::install_state
