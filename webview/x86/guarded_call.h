#pragma once
// Calls a raw stdcall address inside a structured-exception guard. The guard is a frame-based SEH
// registration (FS:[0]) written in assembly, so it works for 32-bit mingw code that has no __try: when the
// callee raises a processor exception (a bad pointer, a division by zero, a bad code address), the
// handler unwinds the frames the callee registered and resumes right after the call on the guard's own
// stack; a non-continuable exception (which may not be resumed) is left to the frames outside the guard.
#include <cstdint>

namespace velview::x86 {

inline constexpr int kMaxGuardedArguments = 255;

struct GuardedResult {
    std::uint32_t value;  // EAX of the callee; 0 when it faulted
    std::uint32_t high;   // EDX of the callee; 0 when it faulted
    bool faulted;
};

// Calls `fn` (stdcall) with `count` 32-bit arguments taken from `args` (args[0] is the first argument).
// A count outside 0..255 or a null fn makes no call and reports a fault.
GuardedResult CallStdcallGuarded(const void* fn, const std::uint32_t* args, int count);

}  // namespace velview::x86
