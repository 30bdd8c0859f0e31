#include "common/update_flow/rollout.h"

#include "common/number/decimal.h"
#include "common/update_flow/http_time.h"

namespace vantorix::update_flow {
namespace {

constexpr uint32_t kWhole = 1000000;  // the whole share, in millionths

}  // namespace

std::optional<Rollout> ParseRollout(std::string_view share, std::string_view start, std::string_view hours) {
    Rollout rollout;
    if (share.empty()) {
        if (!start.empty() || !hours.empty()) return std::nullopt;
        return rollout;
    }
    auto percent = number::ParseDecimal(share, 100);
    if (!percent) return std::nullopt;
    rollout.share_percent = static_cast<unsigned>(*percent);
    if (!start.empty()) {
        rollout.start = ParseUtcTime(start);
        if (!rollout.start) return std::nullopt;
    }
    if (!hours.empty()) {
        // A year of growth is more than any maker means; a larger value is a slip.
        auto ramp = number::ParseDecimal(hours, 24 * 366);
        if (!ramp) return std::nullopt;
        rollout.ramp_hours = static_cast<unsigned>(*ramp);
    }
    return rollout;
}

uint32_t OpenShare(const Rollout& rollout, int64_t now) {
    const uint64_t full = static_cast<uint64_t>(rollout.share_percent) * (kWhole / 100);
    if (!rollout.start) return static_cast<uint32_t>(full);
    if (now < *rollout.start) return 0;
    const uint64_t ramp = static_cast<uint64_t>(rollout.ramp_hours) * 3600;
    const uint64_t elapsed = static_cast<uint64_t>(now - *rollout.start);
    if (ramp == 0 || elapsed >= ramp) return static_cast<uint32_t>(full);
    return static_cast<uint32_t>(full * elapsed / ramp);
}

bool IsOffered(const Rollout& rollout, uint32_t draw, int64_t now) {
    // draw / 2^32 < share / kWhole, in integers.
    return static_cast<uint64_t>(draw) * kWhole < (static_cast<uint64_t>(OpenShare(rollout, now)) << 32);
}

}  // namespace vantorix::update_flow
