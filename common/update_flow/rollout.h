#pragma once
// Phased rollout: which installations a release is offered to so far. The manifest may carry a share
// (0..100 %), the time its growth starts and the hours over which it grows from 0 to that share; every
// installation draws one random number once and keeps it ("rollout_draw" in its install state), and is
// offered the release when its number falls within the share grown so far. An installation outside the
// share behaves as if there were no update, a mandatory one included; a release without rollout members
// goes to everybody at once.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantorix::update_flow {

struct Rollout {
    unsigned share_percent = 100;  // the share the growth ends at
    std::optional<int64_t> start;  // seconds since 1970 (UTC); none: the share holds from the first
    unsigned ramp_hours = 0;       // 0: the whole share at the start
};

// From the manifest's "rollout_share", "rollout_start" (2026-05-01T08:00:00Z) and "rollout_hours" texts,
// each "" when not published. nullopt when a published value is malformed (the manifest is then not
// acted on), or when the start or the hours come without a share.
std::optional<Rollout> ParseRollout(std::string_view share, std::string_view start, std::string_view hours);

// The share open at `now` (seconds since 1970, UTC), in millionths (0..1,000,000).
uint32_t OpenShare(const Rollout& rollout, int64_t now);

// True when the installation whose draw is `draw` is offered the release at `now`. Draws spread evenly
// over 0..2^32-1: a share of s % offers it to s % of them, and a growing share only ever adds installations.
bool IsOffered(const Rollout& rollout, uint32_t draw, int64_t now);

}  // namespace vantorix::update_flow
