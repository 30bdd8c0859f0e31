#include "webview/x86/guarded_call.h"

// The guard, in assembly because mingw has no __try for 32-bit code.
//
// uint32_t velview_guarded_stdcall(fn, args, count, state)   (cdecl)
//   Builds a frame, saves EBX/ESI/EDI, and links an exception registration record into FS:[0]:
//       [ebp-24] previous record     [ebp-20] handler     [ebp-16] the guard frame's EBP
//   pushes args[count-1] .. args[0], calls fn (stdcall), stores state[0] = 1 and state[1] = EDX.
//   Both paths unlink the record and restore the saved registers.
//
// The handler follows the platform's rules for frame-based handlers:
//   - during an unwind (flags 2 | 4) it does nothing: ExceptionContinueSearch;
//   - a non-continuable exception (flag 1: e.g. a C++ exception thrown by another compiler's code) may not
//     be resumed, so it continues the search and an outer frame decides;
//   - any other exception (a bad pointer, a division by zero, a bad code address) is the guard's: it first
//     unwinds every frame registered after its own (RtlUnwind calls their handlers with the unwind flag and
//     unlinks them, so the callee's cleanup runs), then leaves the dispatcher and continues at the resume
//     label on the guard's own frame, which clears the direction flag and returns 0 with state[0] still 0.
//   RtlUnwind may change EBX/ESI/EDI; the handler saves them around it (the resume path does not need them).
// EXCEPTION_RECORD.ExceptionFlags is at offset 4.
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
    movl  4(%esp), %eax
    testl $7, 4(%eax)
    jnz   5f
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

namespace velview::x86 {

GuardedResult CallStdcallGuarded(const void* fn, const std::uint32_t* args, int count) {
    if (!fn || count < 0 || count > kMaxGuardedArguments || (count > 0 && !args)) return {0, 0, true};
    std::uint32_t state[2] = {0, 0};
    const std::uint32_t value = velview_guarded_stdcall(fn, args, count, state);
    if (state[0] != 1) return {0, 0, true};
    return {value, state[1], false};
}

}  // namespace velview::x86
