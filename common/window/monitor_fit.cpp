#include "common/window/monitor_fit.h"

#include <algorithm>

#include "common/window/dpi.h"

namespace vantorix::window {

PixelRect OpeningPlace(std::int32_t design_width, std::int32_t design_height, int dpi, const Edges& work_area) {
    const std::int32_t width = std::min(ScaleToDpi(design_width, dpi), std::max(work_area.width(), 0));
    const std::int32_t height = std::min(ScaleToDpi(design_height, dpi), std::max(work_area.height(), 0));
    return {work_area.left + (work_area.width() - width) / 2, work_area.top + (work_area.height() - height) / 2,
            width, height};
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
    const std::int32_t bottom = std::clamp(work_area.bottom, monitor.top, monitor.bottom);
    return {monitor.left, monitor.top, monitor.width(), bottom - monitor.top};
}

}  // namespace vantorix::window
