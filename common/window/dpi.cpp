#include "common/window/dpi.h"

namespace vantorix::window {

std::int32_t ScaleToDpi(std::int32_t design_pixels, int dpi) {
    if (dpi < 1) dpi = kDesignDpi;
    const std::int64_t product = static_cast<std::int64_t>(design_pixels) * dpi;
    const std::int64_t half = kDesignDpi / 2;
    const std::int64_t scaled = product >= 0 ? (product + half) / kDesignDpi : -((-product + half) / kDesignDpi);
    return static_cast<std::int32_t>(scaled);
}

}  // namespace vantorix::window
