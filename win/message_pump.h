#pragma once
// Lets the calling thread's pending window messages run while it works through a long job in blocks.
#include <windows.h>

namespace vantorix::win {

// Waits for `handle` (none: only for the time) while the thread's window messages run; true when it was
// signalled within `ms`.
bool WaitAnswering(HANDLE handle, ULONGLONG ms);

// One pass over the thread's queue, as a form's "do events" would; a quit request is left (posted again)
// for the thread's own message loop.
void PumpPendingMessages();

// The same for a job that reports after every small block: the queue is passed over only when at least
// `interval_ms` went by since this pump last did, so the window keeps answering without a pass (a round
// trip to the window system) per block. The first call always passes.
class PacedPump {
public:
    explicit PacedPump(unsigned interval_ms = 20) : interval_ms_(interval_ms) {}
    void operator()();

private:
    unsigned interval_ms_;
    unsigned long long last_ = 0;
    bool pumped_ = false;
};

}  // namespace vantorix::win
