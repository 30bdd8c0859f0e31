#include "common/window/twips.h"

#include <cmath>
#include <limits>

namespace vantorix::window {

double TwipsPerPixel(int dots_per_inch) {
    if (dots_per_inch <= 0) return 15.0;  // a screen that reports nothing is taken as 96 dpi
    return static_cast<double>(kTwipsPerInch) / dots_per_inch;
}

std::int32_t RoundToNearest(double value) {
    const double limit_hi = static_cast<double>(std::numeric_limits<std::int32_t>::max());
    const double limit_lo = static_cast<double>(std::numeric_limits<std::int32_t>::min());
    double r = std::nearbyint(value);  // the default floating mode rounds half-way cases to even
    if (!(r == r)) return 0;
    if (r > limit_hi) return std::numeric_limits<std::int32_t>::max();
    if (r < limit_lo) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(r);
}

std::int32_t PixelsToTwips(std::int32_t pixels, double twips_per_pixel) {
    return RoundToNearest(static_cast<double>(pixels) * twips_per_pixel);
}

std::int32_t TwipsToPixels(std::int32_t twips, double twips_per_pixel) {
    if (twips_per_pixel <= 0) return 0;
    return RoundToNearest(static_cast<double>(twips) / twips_per_pixel);
}

std::int16_t TaskbarHeightTwips(std::int32_t screen_height_px, std::int32_t work_area_bottom_px,
                                double twips_per_pixel) {
    const double twips = static_cast<double>(screen_height_px - work_area_bottom_px) * twips_per_pixel;
    const std::int32_t rounded = RoundToNearest(twips);
    if (rounded > std::numeric_limits<std::int16_t>::max()) return std::numeric_limits<std::int16_t>::max();
    if (rounded < std::numeric_limits<std::int16_t>::min()) return std::numeric_limits<std::int16_t>::min();
    return static_cast<std::int16_t>(rounded);
}

TwipRect ToTwips(const PixelRect& p, double f) {
    return {PixelsToTwips(p.left, f), PixelsToTwips(p.top, f), PixelsToTwips(p.width, f),
            PixelsToTwips(p.height, f)};
}

PixelRect ToPixels(const TwipRect& t, double f) {
    return {TwipsToPixels(t.left, f), TwipsToPixels(t.top, f), TwipsToPixels(t.width, f),
            TwipsToPixels(t.height, f)};
}

TwipRect ToggleMaximise(RestoreBounds& bounds, const TwipRect& current, const TwipRect& maximised) {
    if (bounds.maximised) {
        bounds.maximised = false;
        return bounds.saved;
    }
    bounds.maximised = true;
    bounds.saved = current;
    return maximised;
}

}  // namespace vantorix::window
