#include "tests/windows/support/fault_codes.h"

#include <windows.h>

// Each probe is one faulting instruction followed by a landing label; a vectored handler that knows only
// these two addresses notes the code and resumes at the landing, so no guard of the code under test is used.
asm(R"(
    .text
    .globl _vantorix_probe_null_read, _vantorix_probe_null_read_end
_vantorix_probe_null_read:
    movl  4, %eax
_vantorix_probe_null_read_end:
    ret
    .globl _vantorix_probe_division, _vantorix_probe_division_fault, _vantorix_probe_division_end
_vantorix_probe_division:
    movl  $7, %eax
    xorl  %ecx, %ecx
    cltd
_vantorix_probe_division_fault:
    idivl %ecx
_vantorix_probe_division_end:
    ret
)");

extern "C" void vantorix_probe_null_read();
extern "C" void vantorix_probe_null_read_end();
extern "C" void vantorix_probe_division_fault();
extern "C" void vantorix_probe_division_end();
extern "C" void vantorix_probe_division();

namespace vantorix::wintest {
namespace {

struct Probe {
    const void* fault;
    const void* landing;
    DWORD code;
};
Probe* active = nullptr;

LONG CALLBACK NoteAndLand(EXCEPTION_POINTERS* pointers) {
    if (!active || pointers->ExceptionRecord->ExceptionAddress != active->fault) return EXCEPTION_CONTINUE_SEARCH;
    active->code = pointers->ExceptionRecord->ExceptionCode;
    pointers->ContextRecord->Eip = reinterpret_cast<DWORD>(active->landing);
    return EXCEPTION_CONTINUE_EXECUTION;
}

std::uint32_t Measure(void (*run)(), const void* fault, const void* landing) {
    Probe probe{fault, landing, 0};
    active = &probe;
    void* handler = AddVectoredExceptionHandler(1, NoteAndLand);
    run();
    RemoveVectoredExceptionHandler(handler);
    active = nullptr;
    return probe.code;
}

}  // namespace

std::uint32_t CodeOfANullPageRead() {
    return Measure(vantorix_probe_null_read, reinterpret_cast<const void*>(&vantorix_probe_null_read),
                   reinterpret_cast<const void*>(&vantorix_probe_null_read_end));
}

std::uint32_t CodeOfAnIntegerDivisionByZero() {
    return Measure(vantorix_probe_division, reinterpret_cast<const void*>(&vantorix_probe_division_fault),
                   reinterpret_cast<const void*>(&vantorix_probe_division_end));
}

}  // namespace vantorix::wintest
