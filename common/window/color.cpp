#include "common/window/color.h"

namespace vantorix::window {

std::optional<Rgb> DecomposeColor(std::int64_t value) {
    if (value < 0 || value > 0xFFFFFF) return std::nullopt;
    Rgb rgb;
    rgb.red = static_cast<int>(value % 256);
    rgb.blue = static_cast<int>(value / 65536);
    rgb.green = static_cast<int>((value - static_cast<std::int64_t>(rgb.blue) * 65536 - rgb.red) / 256);
    return rgb;
}

std::int32_t ComposeColor(const Rgb& rgb) {
    return static_cast<std::int32_t>((rgb.red & 0xFF) | ((rgb.green & 0xFF) << 8) | ((rgb.blue & 0xFF) << 16));
}

std::string HexByte(int component) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    unsigned value = static_cast<unsigned>(component);
    do {
        text.insert(text.begin(), kDigits[value % 16]);
        value /= 16;
    } while (value != 0);
    if (text.size() == 1) text.insert(text.begin(), '0');
    return text;
}

std::string ColorToHex(int red, int green, int blue) {
    return "#" + HexByte(red) + HexByte(green) + HexByte(blue);
}

std::string RgbText(const Rgb& rgb) {
    return std::to_string(rgb.red) + "," + std::to_string(rgb.green) + "," + std::to_string(rgb.blue);
}

std::string DecimalText(std::int32_t value) { return std::to_string(value); }

}  // namespace vantorix::window
