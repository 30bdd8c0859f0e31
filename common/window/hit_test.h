#pragma once
// The zones a borderless window can be moved or resized from, named as the page names its cursors, with
// the platform's non-client hit-test code each one starts.
#include <optional>
#include <string_view>

namespace vantorix::window {

struct HitTestZone {
    std::string_view name;  // the page's cursor name; empty for the move zone
    int code;               // non-client hit-test code (HTCAPTION, HTLEFT, ...)
};

constexpr int kMoveZoneCode = 2;  // the caption: a system move

// Every zone, the move zone first.
const HitTestZone* HitTestZonesBegin();
const HitTestZone* HitTestZonesEnd();

// The resize code for a zone name: exact, case-sensitive comparison. Unknown names (and the empty name of
// the move zone) give nothing.
std::optional<int> ResizeZoneCode(std::string_view name);

}  // namespace vantorix::window
