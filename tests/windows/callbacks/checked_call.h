#pragma once
// Calls a stdcall entry with a block of 32-bit arguments and measures how far the stack pointer moved:
// 0 when the callee removed exactly its own arguments, as the convention asks.
#include <cstdint>

namespace callbacks_test {

struct CheckedCall {
    std::uint32_t low;
    std::uint32_t high;
    std::int32_t stackDelta;
};

inline CheckedCall CallStdcallChecked(const void* fn, const std::uint32_t* args, int count) {
    std::uint32_t low, high;
    std::int32_t n = count;
    asm volatile(
        "movl %%esp, %%edi\n\t"
        "1:\n\t"
        "testl %%ecx, %%ecx\n\t"
        "jz 2f\n\t"
        "pushl -4(%%esi,%%ecx,4)\n\t"
        "decl %%ecx\n\t"
        "jmp 1b\n\t"
        "2:\n\t"
        "call *%%ebx\n\t"
        "movl %%esp, %%ecx\n\t"
        "subl %%edi, %%ecx\n\t"
        "movl %%edi, %%esp\n\t"
        : "=a"(low), "=d"(high), "+c"(n)
        : "b"(fn), "S"(args)
        : "edi", "memory", "cc");
    return {low, high, n};
}

}  // namespace callbacks_test
