#pragma once
// Colour values in the platform's layout (red in the low byte, then green, then blue) and the text forms the
// colour picker shows.
#include <cstdint>
#include <optional>
#include <string>

namespace vantorix::window {

struct Rgb {
    int red = 0, green = 0, blue = 0;
    bool operator==(const Rgb& o) const { return red == o.red && green == o.green && blue == o.blue; }
};

// The value a screen read gives when the pixel cannot be read (all bits set).
constexpr std::int64_t kInvalidColor = 0xFFFFFFFFll;

// Splits a colour value into its components: red = value mod 256, blue = floor(value / 65536),
// green = (value - blue * 65536 - red) / 256. Gives nothing for a value that is not a colour (negative, the
// invalid-colour value, or above 0xFFFFFF), so that such a value is never shown as one.
std::optional<Rgb> DecomposeColor(std::int64_t value);

std::int32_t ComposeColor(const Rgb& rgb);

// Two upper-case hexadecimal digits; a one-digit value gets a leading "0". Values outside 0..255 are
// written with as many digits as they need.
std::string HexByte(int component);
// "#" and HexByte of red, green and blue.
std::string ColorToHex(int red, int green, int blue);
// "r,g,b" in decimal, no spaces.
std::string RgbText(const Rgb& rgb);
// The colour value as one decimal number.
std::string DecimalText(std::int32_t value);

}  // namespace vantorix::window
