#include "common/window/monitor_fit.h"

#include <algorithm>

#include "common/window/dpi.h"

namespace vantorix::window {

PixelRect CentredIn(std::int32_t width, std::int32_t height, const Edges& work_area) {
    return {work_area.left + std::max(work_area.width() - width, 0) / 2,
            work_area.top + std::max(work_area.height() - height, 0) / 2, width, height};
}

PixelRect OpeningPlace(std::int32_t design_width, std::int32_t design_height, int dpi, const Edges& work_area) {
    return CentredIn(std::min(ScaleToDpi(design_width, dpi), std::max(work_area.width(), 0)),
                     std::min(ScaleToDpi(design_height, dpi), std::max(work_area.height(), 0)), work_area);
}

SizeLimits LimitsOnMonitor(std::int32_t design_width, std::int32_t design_height, int dpi, const Edges& monitor,
                           const Edges& work_area) {
    SizeLimits limits;
    limits.max_width = monitor.width();
    limits.max_height = monitor.height();
    limits.min_width = std::min({ScaleToDpi(design_width, dpi), work_area.width(), limits.max_width});
    limits.min_height = std::min({ScaleToDpi(design_height, dpi), work_area.height(), limits.max_height});
    return limits;
}

PixelRect MaximisedOnMonitor(const Edges& monitor, const Edges& work_area) {
    // A work area the system reports partly outside its monitor is cut to the monitor.
    const std::int32_t left = std::clamp(work_area.left, monitor.left, monitor.right);
    const std::int32_t top = std::clamp(work_area.top, monitor.top, monitor.bottom);
    const std::int32_t right = std::clamp(work_area.right, left, monitor.right);
    const std::int32_t bottom = std::clamp(work_area.bottom, top, monitor.bottom);
    return {left, top, right - left, bottom - top};
}

}  // namespace vantorix::window
