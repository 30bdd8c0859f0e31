#pragma once
// Random numbers from the system's generator (BCryptGenRandom), for what must differ between machines:
// the installation's rollout draw and the spread of retry waits.
#include <cstdint>
#include <optional>

namespace vantorix::services {

// nullopt when the system's generator fails (never expected; callers fall back to a fixed value).
std::optional<uint32_t> SystemRandom32();

// A number 0 <= r < 1 from SystemRandom32; 0.5 when the generator fails.
double SystemRandomFraction();

}  // namespace vantorix::services
