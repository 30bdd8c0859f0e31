#include "webview/x86/guarded_call.h"

#include <windows.h>

// The guard, in assembly because mingw has no __try for 32-bit code.
//
// uint32_t velview_guarded_stdcall(fn, args, count, state)   (cdecl)
//   Builds a frame, saves EBX/ESI/EDI, and links an exception registration record into FS:[0]:
//       [ebp-24] previous record     [ebp-20] handler     [ebp-16] the guard frame's EBP
//   pushes args[count-1] .. args[0], calls fn (stdcall), stores state[0] = 1 and state[1] = EDX.
//   Both paths unlink the record and restore the saved registers.
//
// The handler follows the platform's rules for frame-based handlers:
//   - it asks velview_guard_stops (GuardStops on the record's code and flags, and where the fault left the
//     stack pointer); for anything the guard does not stop (an unwind among them) it answers
//     ExceptionContinueSearch and an outer frame decides;
//   - an exception it stops is the guard's: it stores the code in state[2], unwinds every frame registered
//     after its own (RtlUnwind calls their handlers with the unwind flag and unlinks them, so the callee's
//     cleanup runs), then leaves the dispatcher and continues at the resume label on the guard's own frame,
//     which clears the direction flag and returns 0 with state[0] still 0.
//   RtlUnwind may change EBX/ESI/EDI; the handler saves them around it (the resume path does not need them).
// EXCEPTION_RECORD.ExceptionCode is at offset 0; the guard frame's `state` argument at EBP+20.
asm(R"(
    .text
    .globl _velview_guarded_stdcall
    .def _velview_guarded_stdcall; .scl 2; .type 32; .endef
_velview_guarded_stdcall:
    pushl %ebp
    movl  %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    pushl %ebp
    pushl $_velview_guard_handler
    pushl %fs:0
    movl  %esp, %fs:0
    movl  12(%ebp), %esi
    movl  16(%ebp), %ecx
    jecxz 2f
1:  pushl -4(%esi,%ecx,4)
    loop  1b
2:  call  *8(%ebp)
    movl  20(%ebp), %ecx
    movl  $1, (%ecx)
    movl  %edx, 4(%ecx)
    jmp   4f
_velview_guard_resume:
    cld
    xorl  %eax, %eax
4:  leal  -24(%ebp), %esp
    popl  %fs:0
    addl  $8, %esp
    popl  %edi
    popl  %esi
    popl  %ebx
    popl  %ebp
    ret

    .def _velview_guard_handler; .scl 3; .type 32; .endef
_velview_guard_handler:
    pushl 12(%esp)
    pushl 8(%esp)
    call  _velview_guard_stops
    addl  $8, %esp
    testl %eax, %eax
    jz    5f
    movl  4(%esp), %eax
    movl  8(%esp), %ecx
    movl  8(%ecx), %ecx
    movl  20(%ecx), %ecx
    movl  (%eax), %edx
    movl  %edx, 8(%ecx)
    pushl %ebx
    pushl %esi
    pushl %edi
    pushl $0
    pushl %eax
    pushl $6f
    pushl 32(%esp)
    call  _RtlUnwind@16
6:  popl  %edi
    popl  %esi
    popl  %ebx
    movl  8(%esp), %eax
    movl  8(%eax), %ebp
    jmp   _velview_guard_resume
5:  movl  $1, %eax
    ret
)");

extern "C" std::uint32_t velview_guarded_stdcall(const void* fn, const std::uint32_t* args, int count,
                                                 std::uint32_t* state);

namespace {

// Closer than this to the bottom of its stack's reservation, a thread has overflowed its stack, whatever
// code the fault came with: after the guard page is used up a second overflow reports an access violation,
// and under an emulator that does not say why a signal came the first one may too. Such a thread cannot
// go on, so the guard lets the fault pass. (A guard page, the stack guarantee and a 4 KB frame fit in it.)
constexpr std::uintptr_t kStackEndMargin = 32 * 1024;

bool AtTheEndOfItsStack(std::uintptr_t stack_pointer) noexcept {
    MEMORY_BASIC_INFORMATION region{};
    if (!VirtualQuery(reinterpret_cast<const void*>(stack_pointer), &region, sizeof region)) return true;
    return stack_pointer - reinterpret_cast<std::uintptr_t>(region.AllocationBase) < kStackEndMargin;
}

}  // namespace

extern "C" __attribute__((used)) int velview_guard_stops(const EXCEPTION_RECORD* record,
                                                         const CONTEXT* context) noexcept {
    if (!velview::x86::GuardStops(record->ExceptionCode, record->ExceptionFlags)) return 0;
    return AtTheEndOfItsStack(context->Esp) ? 0 : 1;
}

namespace velview::x86 {
namespace {

constexpr std::uint32_t kStackOverflow = 0xC00000FD;
constexpr std::uint32_t kNoncontinuable = 0xC0000025;
constexpr std::uint32_t kInvalidDisposition = 0xC0000026;
constexpr std::uint32_t kHeapCorruption = 0xC0000374;
constexpr std::uint32_t kStackBufferOverrun = 0xC0000409;

}  // namespace

bool GuardStops(std::uint32_t code, std::uint32_t flags) noexcept {
    if (flags & (EXCEPTION_NONCONTINUABLE | EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return false;
    if ((code >> 30) != 3) return false;  // not of error severity
    switch (code) {
        case kStackOverflow:
        case kNoncontinuable:
        case kInvalidDisposition:
        case kHeapCorruption:
        case kStackBufferOverrun:
            return false;
        default:
            return true;
    }
}

GuardedResult CallStdcallGuarded(const void* fn, const std::uint32_t* args, int count) {
    if (!fn || count < 0 || count > kMaxGuardedArguments || (count > 0 && !args)) return {0, 0, true, 0};
    std::uint32_t state[3] = {0, 0, 0};
    const std::uint32_t value = velview_guarded_stdcall(fn, args, count, state);
    if (state[0] != 1) return {0, 0, true, state[2]};
    return {value, state[1], false, 0};
}

}  // namespace velview::x86
