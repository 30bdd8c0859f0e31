#pragma once
// Lets the calling thread's pending window messages run while it works through a long job in blocks.
namespace vantorix::win {

// One pass over the thread's queue, as a form's "do events" would; a quit request is left (posted again)
// for the thread's own message loop.
void PumpPendingMessages();

}  // namespace vantorix::win
