#include "common/window/hit_test.h"

#include <iterator>

namespace vantorix::window {
namespace {

constexpr HitTestZone kZones[] = {
    {"", kMoveZoneCode},  // caption
    {"w-resize", 10},     // left edge
    {"e-resize", 11},     // right edge
    {"n-resize", 12},     // top edge
    {"nw-resize", 13},    // top-left corner
    {"ne-resize", 14},    // top-right corner
    {"s-resize", 15},     // bottom edge
    {"sw-resize", 16},    // bottom-left corner
    {"se-resize", 17},    // bottom-right corner
};

}  // namespace

const HitTestZone* HitTestZonesBegin() { return std::begin(kZones); }
const HitTestZone* HitTestZonesEnd() { return std::end(kZones); }

std::optional<int> ResizeZoneCode(std::string_view name) {
    if (name.empty()) return std::nullopt;
    for (const auto& zone : kZones)
        if (zone.name == name) return zone.code;
    return std::nullopt;
}

}  // namespace vantorix::window
