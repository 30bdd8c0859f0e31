// The foundation's own check: the cross-built test runner works under Wine and this is a 32-bit process.
#include <gtest/gtest.h>
#include <windows.h>

TEST(Platform, RunsAsA32BitWindowsProcess) {
    EXPECT_EQ(sizeof(void*), 4u);
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_INTEL);
}
