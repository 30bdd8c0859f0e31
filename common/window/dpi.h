#pragma once
// Sizes designed at 96 dots per inch, shown at a monitor's own scale. A program that declares itself DPI
// aware sees real pixels everywhere, so its fixed design sizes (the main window's 1000 x 611, the
// picker's 497 x 185 and its controls) are scaled here to the monitor's dots per inch.
#include <cstdint>

namespace vantorix::window {

constexpr int kDesignDpi = 96;

// A length of `design_pixels` at 96 dpi, at `dpi` (rounded to the nearest pixel, halves away from zero,
// as the platform's MulDiv). A dpi below 1 is taken as 96.
std::int32_t ScaleToDpi(std::int32_t design_pixels, int dpi);

}  // namespace vantorix::window
