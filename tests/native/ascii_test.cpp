#include <gtest/gtest.h>
#include "common/text/ascii.h"

TEST(AsciiLower, LowersOnlyAsciiLetters) {
    EXPECT_EQ(vantorix::AsciiLower(std::string("MAXIMIZE")), "maximize");
    EXPECT_EQ(vantorix::AsciiLower(std::wstring(L"ÄB\u5927")), std::wstring(L"Äb\u5927"));
}
