#pragma once
// Which progress reports reach the screen. The status line and the progress bar show the whole
// percentage; every change of either is a synchronous repaint of the form, which costs the form's thread
// more than a block of data or of unpacking does. A report is shown when its whole percentage differs from
// the one on screen and either it is 0 or 100 (a start and an end always show), it went back (a new run),
// or at least the interval passed since the last one shown. A slow download still moves percent by percent;
// a fast one repaints a few times a second instead of at every percent.
#include <cstdint>

namespace vantorix::update_flow {

class ProgressPace {
public:
    static constexpr std::uint64_t kDefaultIntervalMs = 250;
    explicit ProgressPace(std::uint64_t interval_ms = kDefaultIntervalMs) : interval_ms_(interval_ms) {}

    // whole: the percentage as a whole number 0..100; now_ms: a steady clock. True when it is to be shown
    // now (it is then taken as the one on screen).
    bool Due(int whole, std::uint64_t now_ms);
    // Something else took the figure's place (a status text, a reset bar): the next figure shows at once.
    void Reset() { shown_ = -1; }

private:
    std::uint64_t interval_ms_;
    int shown_ = -1;
    std::uint64_t shown_at_ = 0;
};

}  // namespace vantorix::update_flow
