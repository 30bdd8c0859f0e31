#include "webview/x86/guarded_call.h"

// The guard, in assembly because mingw has no __try for 32-bit code.
//
// uint32_t velview_guarded_stdcall(fn, args, count, state)   (cdecl)
//   Builds a frame, saves EBX/ESI/EDI, and links an exception registration record into FS:[0]:
//       [ebp-24] previous record     [ebp-20] handler     [ebp-16] the guard frame's EBP
//   pushes args[count-1] .. args[0], calls fn (stdcall), stores state[0] = 1 and state[1] = EDX.
//   The handler, for a first-pass exception, rewrites the faulting context so that execution continues
//   at the resume label with ESP = the record and EBP = the guard's frame; the resume path returns 0 and
//   leaves state[0] at 0. Both paths unlink the record (restoring FS:[0] also drops any record the callee
//   left behind) and restore the saved registers.
// CONTEXT offsets (i386): Ebp 0xB4, Eip 0xB8, Esp 0xC4. EXCEPTION_RECORD.ExceptionFlags at 4;
// flags 2 | 4 mean an unwind is under way, which the handler leaves alone.
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
    testl $6, 4(%eax)
    jnz   5f
    movl  8(%esp), %edx
    movl  12(%esp), %ecx
    movl  8(%edx), %eax
    movl  %eax, 0xB4(%ecx)
    movl  %edx, 0xC4(%ecx)
    movl  $_velview_guard_resume, 0xB8(%ecx)
    xorl  %eax, %eax
    ret
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
