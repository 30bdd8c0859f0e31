#pragma once
// Calls a raw stdcall address inside a structured-exception guard. The guard is a frame-based SEH
// registration (FS:[0]) written in assembly, so it works for 32-bit mingw code that has no __try: when the
// callee raises an exception the guard stops (GuardStops), the handler unwinds the frames the callee
// registered and resumes right after the call on the guard's own stack.
//
// Unwinding runs the handlers of frames registered with the system (the callee's __finally blocks and, for
// code of compilers whose C++ uses them, its destructors); the library's own C++ frames are not such frames,
// so a guard is put only directly around code that is not the library's (the host's event handlers, a raw
// address a caller hands the call bridge), never around the library's own work.
#include <cstdint>

namespace velview::x86 {

inline constexpr int kMaxGuardedArguments = 255;

struct GuardedResult {
    std::uint32_t value;  // EAX of the callee; 0 when it faulted
    std::uint32_t high;   // EDX of the callee; 0 when it faulted
    bool faulted;
    std::uint32_t code;   // the exception code the guard stopped (0 when it did not fault or made no call)
};

// Calls `fn` (stdcall) with `count` 32-bit arguments taken from `args` (args[0] is the first argument).
// A count outside 0..255 or a null fn makes no call and reports a fault.
GuardedResult CallStdcallGuarded(const void* fn, const std::uint32_t* args, int count);

// Which exceptions the guard stops: those of error severity that leave the process able to go on, raised
// continuable — processor faults of the callee (a bad pointer, a division by zero, a bad code address) and
// software exceptions it raises that way. It lets pass, to the frames outside it and in the end to the
// process's own handling: an unwind; an exception raised non-continuable; a stack overflow (resuming would
// leave the thread's stack without its guard page, so the next overflow ends the process unreported);
// states that say memory is broken (heap corruption, a smashed stack, a bad disposition); and everything of
// warning or informational severity (breakpoints, single steps, guard pages, debugger output), which is not
// a failure of the callee.
bool GuardStops(std::uint32_t code, std::uint32_t flags) noexcept;

}  // namespace velview::x86
