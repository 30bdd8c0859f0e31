#pragma once
// The main window against the monitor it is on: where it opens, the size limits it answers the system
// with, and its maximised geometry. All in physical pixels of the virtual screen (a monitor left of or
// above the primary one has negative coordinates).
#include <cstdint>

#include "common/window/twips.h"

namespace vantorix::window {

struct Edges {  // a rectangle as the platform gives it: left, top, right, bottom
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
    std::int32_t width() const { return right - left; }
    std::int32_t height() const { return bottom - top; }
};

struct SizeLimits {
    std::int32_t min_width = 0, min_height = 0, max_width = 0, max_height = 0;
    bool operator==(const SizeLimits& o) const {
        return min_width == o.min_width && min_height == o.min_height && max_width == o.max_width &&
               max_height == o.max_height;
    }
};

// A window of the given size centred in the work area; one larger than the area starts at its top-left.
PixelRect CentredIn(std::int32_t width, std::int32_t height, const Edges& work_area);

// The design size (pixels at 96 dpi) at the monitor's scale, no larger than its work area, centred in
// the work area.
PixelRect OpeningPlace(std::int32_t design_width, std::int32_t design_height, int dpi, const Edges& work_area);

// Limits on a monitor: the minimum is the design size at its scale, clamped to its work area (a minimum
// the screen cannot hold would push the window off it); the maximum is the monitor's size.
SizeLimits LimitsOnMonitor(std::int32_t design_width, std::int32_t design_height, int dpi, const Edges& monitor,
                           const Edges& work_area);

// The client's own maximised geometry on the window's monitor: its work area (within the monitor), so the
// taskbar stays visible on whichever side it is.
PixelRect MaximisedOnMonitor(const Edges& monitor, const Edges& work_area);

}  // namespace vantorix::window
