#include "common/update_flow/progress_pace.h"

namespace vantorix::update_flow {

bool ProgressPace::Due(int whole, std::uint64_t now_ms) {
    if (whole == shown_) return false;
    const bool always = shown_ < 0 || whole <= 0 || whole >= 100 || whole < shown_;
    if (!always && now_ms - shown_at_ < interval_ms_) return false;
    shown_ = whole;
    shown_at_ = now_ms;
    return true;
}

}  // namespace vantorix::update_flow
