// The colour picker's text forms of a screen colour.
#include <gtest/gtest.h>

#include "common/window/color.h"

using namespace vantorix::window;

TEST(ColorText, HexByteIsTwoUpperCaseDigits) {
    struct Case { int in; const char* out; } cases[] = {
        {0, "00"}, {1, "01"}, {9, "09"}, {10, "0A"}, {15, "0F"}, {16, "10"}, {171, "AB"}, {255, "FF"},
    };
    for (const auto& c : cases) EXPECT_EQ(HexByte(c.in), c.out) << c.in;
}

TEST(ColorText, ColorToHexJoinsTheThreeComponents) {
    struct Case { int r, g, b; const char* out; } cases[] = {
        {255, 0, 0, "#FF0000"}, {1, 2, 3, "#010203"}, {0, 0, 0, "#000000"}, {255, 255, 255, "#FFFFFF"},
        {18, 52, 86, "#123456"}, {0xA, 0xB, 0xC, "#0A0B0C"},
    };
    for (const auto& c : cases) EXPECT_EQ(ColorToHex(c.r, c.g, c.b), c.out);
}

TEST(ColorText, ScreenColourShowsAsComponentsHexAndDecimal) {
    struct Case { std::int64_t value; Rgb rgb; const char* rgb_text; const char* hex; const char* dec; } cases[] = {
        {0x0000FF, {255, 0, 0}, "255,0,0", "#FF0000", "255"},
        {0x030201, {1, 2, 3}, "1,2,3", "#010203", "197121"},
        {0x000000, {0, 0, 0}, "0,0,0", "#000000", "0"},
        {0xFFFFFF, {255, 255, 255}, "255,255,255", "#FFFFFF", "16777215"},
        {0x00FF00, {0, 255, 0}, "0,255,0", "#00FF00", "65280"},
        {0x0A0000, {0, 0, 10}, "0,0,10", "#00000A", "655360"},
    };
    for (const auto& c : cases) {
        auto rgb = DecomposeColor(c.value);
        ASSERT_TRUE(rgb.has_value()) << c.value;
        EXPECT_EQ(*rgb, c.rgb) << c.value;
        EXPECT_EQ(RgbText(*rgb), c.rgb_text);
        EXPECT_EQ(ColorToHex(rgb->red, rgb->green, rgb->blue), c.hex);
        EXPECT_EQ(DecimalText(ComposeColor(*rgb)), c.dec);
    }
}

TEST(ColorText, AnUnreadablePixelIsNotAColour) {
    for (std::int64_t value : {kInvalidColor, std::int64_t{-1}, std::int64_t{0x1000000}, std::int64_t{0x7FFFFFFF}})
        EXPECT_FALSE(DecomposeColor(value).has_value()) << value;
}
