#include "common/download/progress.h"

#include <cmath>
#include <limits>

namespace vantorix::download {

float Percentage(double present, double total) {
    if (!(total > 0)) return 0.0f;
    const float value = static_cast<float>(present / total * 100.0);
    if (!(value > 0)) return 0.0f;
    return value > 100.0f ? 100.0f : value;
}

double AverageSpeed(double receivedThisRun, double elapsedSeconds) {
    return elapsedSeconds > 0 ? receivedThisRun / elapsedSeconds : 0.0;
}

std::int64_t ByteCountForText(double bytes) {
    if (!(bytes > 0)) return 0;
    // 2^63 is exactly representable; everything at or above it does not fit.
    if (bytes >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(std::llround(bytes));
}

}  // namespace vantorix::download
