#pragma once
// Window geometry in twips (1/1440 inch) and the rounding the client applies when it moves between twips and
// pixels. The main window remembers its restored geometry in twips so that a change of the screen factor
// between maximise and restore still puts it back where the user left it.
#include <cstdint>

namespace vantorix::window {

constexpr int kTwipsPerInch = 1440;

// Twips per pixel for a screen of the given dots per inch (15 at 96 dpi, 12 at 120, 10 at 144).
double TwipsPerPixel(int dots_per_inch);

// Rounds to the nearest integer; a value exactly half-way goes to the even neighbour, as the platform's
// own integer conversion of a floating value does.
std::int32_t RoundToNearest(double value);

// A pixel value as twips, rounded to a whole twip.
std::int32_t PixelsToTwips(std::int32_t pixels, double twips_per_pixel);
// A twip value as pixels, rounded to a whole pixel.
std::int32_t TwipsToPixels(std::int32_t twips, double twips_per_pixel);

// Height of a taskbar at the bottom of the screen, in twips, as a 16-bit value: the screen height minus
// the bottom of the work area. A taskbar at the top or at a side leaves the work-area bottom at the screen's
// bottom and so counts as 0. The 16-bit result saturates instead of wrapping (a huge screen at a small
// factor would otherwise give a negative height and a window taller than the screen).
std::int16_t TaskbarHeightTwips(std::int32_t screen_height_px, std::int32_t work_area_bottom_px,
                                double twips_per_pixel);

struct TwipRect {
    std::int32_t left = 0, top = 0, width = 0, height = 0;
    bool operator==(const TwipRect& o) const {
        return left == o.left && top == o.top && width == o.width && height == o.height;
    }
};
struct PixelRect {
    std::int32_t left = 0, top = 0, width = 0, height = 0;
    bool operator==(const PixelRect& o) const {
        return left == o.left && top == o.top && width == o.width && height == o.height;
    }
};

TwipRect ToTwips(const PixelRect& pixels, double twips_per_pixel);
PixelRect ToPixels(const TwipRect& twips, double twips_per_pixel);

// The record that remembers the geometry from before the client's own maximise.
struct RestoreBounds {
    bool maximised = false;
    TwipRect saved;
};

// One step of the maximise toggle: given the current window geometry, returns the geometry to apply and
// updates the record (the flag flips; the current geometry is saved when maximising).
TwipRect ToggleMaximise(RestoreBounds& bounds, const TwipRect& current, const TwipRect& maximised);

}  // namespace vantorix::window
