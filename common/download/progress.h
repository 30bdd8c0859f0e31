#pragma once
// The numbers the downloader reports per block: percentage, average speed, and the whole byte count
// a size text is made from.
#include <cstdint>

namespace vantorix::download {

// present / total * 100 as a single-precision value, capped at 100 (0 when total is not positive).
float Percentage(double present, double total);

// Average bytes per second of this run; 0 until some time has passed.
double AverageSpeed(double receivedThisRun, double elapsedSeconds);

// The value rounded to a whole byte count (halves away from zero); negative or not-a-number gives 0,
// values beyond the 64-bit range are clamped. Sizes of 2 GiB and more stay exact.
std::int64_t ByteCountForText(double bytes);

}  // namespace vantorix::download
