// Balloon title and text cut to their byte fields without breaking a double-byte character.
#include <gtest/gtest.h>

#include <string>

#include "common/window/balloon_text.h"

using namespace vantorix::window;

namespace {
// Lead bytes of the simplified-Chinese double-byte code page.
bool Gbk(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
const std::string kZhong = "\xD6\xD0";  // one Chinese character in that code page
}  // namespace

TEST(WindowBalloonText, FitsTextIntoFieldLeavingRoomForTheTerminator) {
    struct Case { std::string text; std::size_t field; std::size_t expected; const char* what; } cases[] = {
        {"", 64, 0, "empty"},
        {std::string(63, 'a'), 64, 63, "exactly fits"},
        {std::string(64, 'a'), 64, 63, "one too long"},
        {std::string(300, 'b'), 256, 255, "long text"},
        {std::string(62, 'a') + kZhong, 64, 62, "a character across the limit is left out whole"},
        {std::string(61, 'a') + kZhong + "x", 64, 63, "a character just inside the limit stays"},
        {[] { std::string s; for (int i = 0; i < 40; ++i) s += kZhong; return s; }(), 64, 62, "all Chinese title"},
        {"ab\xD6", 64, 2, "a broken trailing lead byte is dropped"},
        {"abc", 1, 0, "a field with room for the terminator only"},
        {"abc", 0, 0, "no field"},
    };
    for (const auto& c : cases) EXPECT_EQ(FittingPrefixLength(c.text, c.field, Gbk), c.expected) << c.what;
}

TEST(WindowBalloonText, SingleByteCodePageCutsAtTheByteLimit) {
    const std::string text(70, '\xE9');  // é in a Western code page: every byte is a character
    EXPECT_EQ(FittingPrefixLength(text, 64, [](unsigned char) { return false; }), 63u);
    EXPECT_EQ(FittingPrefixLength(text, 64, nullptr), 63u);
}
