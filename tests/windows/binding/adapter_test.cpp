// The calling-convention adapters and the fault guard, run as real i686 code: an engine (cdecl caller)
// reaching stdcall routines, a fastcall caller reaching them, and a raw call into a routine that faults.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <string>

#include "webview/bridge/universal_dll_calls.h"
#include "webview/x86/adapters.h"
#include "webview/x86/guarded_call.h"
#include "tests/windows/support/fault_codes.h"
#include "win/diagnostic_log.h"
#include "win/process.h"

namespace {

using velview::cUniversalDLLCalls;
using velview::fastcallCallback;

// N 32-bit arguments as one block: passed by value, it is pushed as N consecutive stack arguments,
// v[0] being the first.
template <int N>
struct Args {
    std::uint32_t v[N];
};

template <int N>
Args<N> Numbered() {
    Args<N> a{};
    for (int i = 0; i < N; ++i) a.v[i] = 0x1000u * (i + 1) + static_cast<std::uint32_t>(i);
    return a;
}

// A result that depends on every argument and on its position.
template <int N>
std::uint32_t Weigh(const Args<N>& a) {
    std::uint32_t sum = 0x9E3779B9u;
    for (int i = 0; i < N; ++i) sum = sum * 31u + a.v[i] * static_cast<std::uint32_t>(i + 7);
    return sum;
}

template <int N>
std::uint32_t __stdcall StdcallTarget(Args<N> a) { return Weigh(a); }
std::uint32_t __stdcall StdcallTarget0() { return 0xC0FFEE00u; }

template <int N>
using CdeclCaller = std::uint32_t(__cdecl*)(Args<N>);

template <int N>
void ExpectCdeclCallerGetsStdcallResult() {
    void* adapter = velview::x86::MakeCdeclAdapter(reinterpret_cast<const void*>(&StdcallTarget<N>), N);
    ASSERT_NE(adapter, nullptr) << N << " arguments";
    const auto call = reinterpret_cast<CdeclCaller<N>>(adapter);
    const Args<N> args = Numbered<N>();
    // Many calls in a row: a stack pointer off by even one slot would not survive them.
    for (int round = 0; round < 200; ++round) ASSERT_EQ(call(args), Weigh(args)) << N << " arguments";
    EXPECT_TRUE(velview::x86::ReleaseCdeclAdapter(adapter));
}

TEST(CdeclAdapter, CdeclCallersReachStdcallRoutinesOfAnyAcceptedCount) {
    void* adapter0 = velview::x86::MakeCdeclAdapter(reinterpret_cast<const void*>(&StdcallTarget0), 0);
    ASSERT_NE(adapter0, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uint32_t(__cdecl*)()>(adapter0)(), 0xC0FFEE00u);
    ExpectCdeclCallerGetsStdcallResult<1>();
    ExpectCdeclCallerGetsStdcallResult<2>();
    ExpectCdeclCallerGetsStdcallResult<7>();
    ExpectCdeclCallerGetsStdcallResult<32>();
    ExpectCdeclCallerGetsStdcallResult<63>();
}

TEST(CdeclAdapter, RefusesCountsOutsideZeroTo63AndNullTargets) {
    const void* target = reinterpret_cast<const void*>(&StdcallTarget<1>);
    struct Case {
        const void* target;
        int count;
    } cases[] = {{target, 64}, {target, -1}, {target, 1000}, {nullptr, 1}, {nullptr, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(cUniversalDLLCalls::ThunkFor_CDeclCallbackToVB(c.target, c.count), 0u) << c.count;
    }
}

// Recursion through one adapter: the routine calls back through the very adapter it was reached by.
CdeclCaller<1> g_recursiveAdapter = nullptr;
std::uint32_t __stdcall Recurse(Args<1> depth) {
    if (depth.v[0] == 0) return 1;
    const std::uint32_t inner = g_recursiveAdapter(Args<1>{{depth.v[0] - 1}});
    return inner * 2 + depth.v[0];
}

TEST(CdeclAdapter, MayBeEnteredAgainWhileACallThroughItRuns) {
    const std::uint32_t address =
        cUniversalDLLCalls::ThunkFor_CDeclCallbackToVB(reinterpret_cast<const void*>(&Recurse), 1);
    ASSERT_NE(address, 0u);
    g_recursiveAdapter = reinterpret_cast<CdeclCaller<1>>(address);
    std::uint32_t expected = 1;
    for (std::uint32_t d = 1; d <= 20; ++d) expected = expected * 2 + d;
    EXPECT_EQ(g_recursiveAdapter(Args<1>{{20}}), expected);
    cUniversalDLLCalls::ThunkRelease_CDECL(address);
}

std::uint64_t __stdcall Wide(Args<2> a) { return (static_cast<std::uint64_t>(a.v[0]) << 32) | a.v[1]; }
double __stdcall Half(Args<1> a) { return a.v[0] / 2.0; }

TEST(CdeclAdapter, PassesA64BitResultWholeAndAFloatingResult) {
    void* wide = velview::x86::MakeCdeclAdapter(reinterpret_cast<const void*>(&Wide), 2);
    ASSERT_NE(wide, nullptr);
    const auto call = reinterpret_cast<std::uint64_t(__cdecl*)(Args<2>)>(wide);
    EXPECT_EQ(call(Args<2>{{0x11223344u, 0x55667788u}}), 0x1122334455667788ull);
    EXPECT_EQ(call(Args<2>{{0xFFFFFFFFu, 0}}), 0xFFFFFFFF00000000ull);
    void* half = velview::x86::MakeCdeclAdapter(reinterpret_cast<const void*>(&Half), 1);
    ASSERT_NE(half, nullptr);
    EXPECT_DOUBLE_EQ(reinterpret_cast<double(__cdecl*)(Args<1>)>(half)(Args<1>{{5}}), 2.5);
}

TEST(CdeclAdapter, ReleaseFreesOnlyLiveAdapters) {
    void* adapter = velview::x86::MakeCdeclAdapter(reinterpret_cast<const void*>(&StdcallTarget<1>), 1);
    ASSERT_NE(adapter, nullptr);
    EXPECT_FALSE(velview::x86::ReleaseCdeclAdapter(static_cast<char*>(adapter) + 4));
    EXPECT_TRUE(velview::x86::ReleaseCdeclAdapter(adapter));
    EXPECT_FALSE(velview::x86::ReleaseCdeclAdapter(adapter)) << "a second release must be refused";
    EXPECT_FALSE(velview::x86::ReleaseCdeclAdapter(nullptr));
    cUniversalDLLCalls::ThunkRelease_CDECL(0);  // nothing to do, nothing to crash
}

TEST(CdeclAdapter, TwoAdaptersForOneRoutineAreDistinct) {
    const void* target = reinterpret_cast<const void*>(&StdcallTarget<1>);
    const std::uint32_t a = cUniversalDLLCalls::ThunkFor_CDeclCallbackToVB(target, 1);
    const std::uint32_t b = cUniversalDLLCalls::ThunkFor_CDeclCallbackToVB(target, 1);
    EXPECT_NE(a, 0u);
    EXPECT_NE(b, 0u);
    EXPECT_NE(a, b);
}

// Fastcall callers: the engine calls a bound script function with its execution state in ECX.
std::uint32_t g_seenExtra = 0;
std::uint64_t __stdcall FromEcx(std::uint32_t es) { return (0xABCD0000ull << 32) | es; }
std::uint64_t __stdcall WithExtra(std::uint32_t extra, std::uint32_t es) {
    g_seenExtra = extra;
    return es + 1;
}
std::uint32_t __stdcall ThreeArgs(std::uint32_t a, std::uint32_t b, std::uint32_t c) { return a * 100 + b * 10 + c; }

TEST(FastcallAdapter, OneArgumentRoutineGetsEcxAndReturns64Bits) {
    fastcallCallback maker;
    const bool noExtra = false;
    const std::uint32_t address = maker.fastcall(1, reinterpret_cast<const void*>(&FromEcx), noExtra);
    ASSERT_NE(address, 0u);
    const auto call = reinterpret_cast<std::uint64_t(__fastcall*)(std::uint32_t)>(address);
    EXPECT_EQ(call(0x1234u), (0xABCD0000ull << 32) | 0x1234u);
}

TEST(FastcallAdapter, ExtraPushPassesTheMakersOwnAddressFirst) {
    fastcallCallback maker;
    const bool extra = true;
    const std::uint32_t address = maker.fastcall(1, reinterpret_cast<const void*>(&WithExtra), extra);
    ASSERT_NE(address, 0u);
    EXPECT_EQ(reinterpret_cast<std::uint64_t(__fastcall*)(std::uint32_t)>(address)(41), 42u);
    EXPECT_EQ(g_seenExtra, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&maker)));
}

TEST(FastcallAdapter, RegisterAndStackArgumentsArriveInOrder) {
    fastcallCallback maker;
    const bool noExtra = false;
    const std::uint32_t address = maker.fastcall(3, reinterpret_cast<const void*>(&ThreeArgs), noExtra);
    ASSERT_NE(address, 0u);
    const auto call = reinterpret_cast<std::uint32_t(__fastcall*)(std::uint32_t, std::uint32_t, std::uint32_t)>(address);
    for (int round = 0; round < 100; ++round) ASSERT_EQ(call(1, 2, 3), 123u);
}

TEST(FastcallAdapter, NegativeCountOrNullRoutineGivesZero) {
    fastcallCallback maker;
    const bool noExtra = false;
    EXPECT_EQ(maker.fastcall(-1, reinterpret_cast<const void*>(&FromEcx), noExtra), 0u);
    EXPECT_EQ(maker.fastcall(1, nullptr, noExtra), 0u);
}

// The guard.
std::int32_t __stdcall ReadsBadPointer(std::int32_t address) {
    return *reinterpret_cast<volatile std::int32_t*>(static_cast<std::uintptr_t>(address));
}
std::int32_t __stdcall Divides(std::int32_t a, std::int32_t b) {
    volatile std::int32_t divisor = b;
    return a / divisor;
}
std::int32_t __stdcall Order(std::int32_t a, std::int32_t b, std::int32_t c) { return a * 100 + b * 10 + c; }
std::int32_t __stdcall NoArguments() { return 77; }

int g_guardedDepth = 0;
std::int32_t __stdcall GuardsAgain(std::int32_t address) {
    // A fault inside a nested guard must stop at the inner guard and leave the outer call running.
    ++g_guardedDepth;
    const std::int32_t inner = cUniversalDLLCalls::CallStdcall(reinterpret_cast<const void*>(&ReadsBadPointer), &address, 1);
    return inner + 5;
}

std::string ReadAll(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CallStdcall, AFaultingCalleeGivesZeroIsRecordedAndTheProcessGoesOn) {
    wchar_t folder[MAX_PATH] = {}, log[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    ASSERT_NE(GetTempFileNameW(folder, L"vlg", 0, log), 0u);
    ASSERT_TRUE(vantorix::win::diag::OpenLog(log));
    const std::int32_t bad[] = {0x10};
    for (int round = 0; round < 3; ++round)
        EXPECT_EQ(cUniversalDLLCalls::CallStdcall(reinterpret_cast<const void*>(&ReadsBadPointer), bad, 1), 0);
    const std::int32_t zero[] = {7, 0};
    EXPECT_EQ(cUniversalDLLCalls::CallStdcall(reinterpret_cast<const void*>(&Divides), zero, 2), 0);
    const auto faulted = velview::x86::CallStdcallGuarded(reinterpret_cast<const void*>(&ReadsBadPointer),
                                                         reinterpret_cast<const std::uint32_t*>(bad), 1);
    EXPECT_TRUE(faulted.faulted);
    // After the faults, calls work as before.
    const std::int32_t fine[] = {84, 2};
    EXPECT_EQ(cUniversalDLLCalls::CallStdcall(reinterpret_cast<const void*>(&Divides), fine, 2), 42);
    const std::string recorded = ReadAll(log);
    char badRead[96], division[32];
    std::snprintf(badRead, sizeof badRead, "CallStdcall: the called routine faulted; the call gives 0 (code 0x%08X)",
                  static_cast<unsigned>(vantorix::wintest::CodeOfANullPageRead()));
    std::snprintf(division, sizeof division, "(code 0x%08X)",
                  static_cast<unsigned>(vantorix::wintest::CodeOfAnIntegerDivisionByZero()));
    EXPECT_NE(recorded.find(badRead), std::string::npos) << recorded;
    EXPECT_NE(recorded.find(division), std::string::npos) << "the division's fault was not recorded";
    vantorix::win::diag::OpenLog(L"");
    DeleteFileW(log);
}

TEST(CallStdcall, ArgumentsArriveFirstToLastAndCountZeroPassesNone) {
    const std::int32_t args[] = {1, 2, 3};
    EXPECT_EQ(cUniversalDLLCalls::CallStdcall(reinterpret_cast<const void*>(&Order), args, 3), 123);
    EXPECT_EQ(cUniversalDLLCalls::CallStdcall(reinterpret_cast<const void*>(&NoArguments), nullptr, 0), 77);
    EXPECT_EQ(cUniversalDLLCalls::CallStdcall(nullptr, nullptr, 0), 0);
    EXPECT_EQ(cUniversalDLLCalls::CallStdcall(reinterpret_cast<const void*>(&Order), args, -1), 0);
}

TEST(CallStdcall, NestedGuardsEachCatchTheirOwnFault) {
    const std::int32_t bad[] = {0x20};
    const auto r = velview::x86::CallStdcallGuarded(reinterpret_cast<const void*>(&GuardsAgain),
                                                   reinterpret_cast<const std::uint32_t*>(bad), 1);
    EXPECT_FALSE(r.faulted);
    EXPECT_EQ(r.value, 5u);
    EXPECT_EQ(g_guardedDepth, 1);
}

// The guard links itself into the thread's exception chain (FS:[0]) for the call only: after a normal
// return and after a fault the chain is exactly as before, or a later exception would find a dead record.
unsigned long ExceptionChainHead() {
    unsigned long head;
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

TEST(CallStdcall, LeavesTheThreadsExceptionChainAsItFoundIt) {
    const unsigned long before = ExceptionChainHead();
    const std::int32_t bad[] = {0x10};
    cUniversalDLLCalls::CallStdcall(reinterpret_cast<const void*>(&ReadsBadPointer), bad, 1);
    EXPECT_EQ(ExceptionChainHead(), before);
    const std::int32_t args[] = {1, 2, 3};
    cUniversalDLLCalls::CallStdcall(reinterpret_cast<const void*>(&Order), args, 3);
    EXPECT_EQ(ExceptionChainHead(), before);
}

// A callee that registers its own exception handler and then faults: the guard must unwind that frame (its
// handler sees the unwind, so the callee's cleanup runs) before it resumes on its own frame. (The direction
// flag the guard clears on resuming cannot be set at a fault here: qemu-user hands Wine's signal handler the
// flag as the fault left it, and that handler does not survive it.)
int g_calleeSearched = 0, g_calleeUnwound = 0;
extern "C" __attribute__((used)) EXCEPTION_DISPOSITION __cdecl CalleeFrameHandler(EXCEPTION_RECORD* record, void*, CONTEXT*, void*) {
    ++(record->ExceptionFlags & EXCEPTION_UNWINDING ? g_calleeUnwound : g_calleeSearched);
    return ExceptionContinueSearch;
}
extern "C" std::int32_t __stdcall FaultsUnderItsOwnFrame();
asm(R"(
    .text
_FaultsUnderItsOwnFrame@0:
    pushl %ebp
    movl  %esp, %ebp
    pushl $_CalleeFrameHandler
    pushl %fs:0
    movl  %esp, %fs:0
    movl  0, %eax
    popl  %fs:0
    leave
    ret
)");

TEST(CallStdcall, AFaultUnwindsTheFramesTheCalleeRegistered) {
    const unsigned long before = ExceptionChainHead();
    const auto r = velview::x86::CallStdcallGuarded(reinterpret_cast<const void*>(&FaultsUnderItsOwnFrame), nullptr, 0);
    EXPECT_TRUE(r.faulted);
    EXPECT_EQ(r.value, 0u);
    EXPECT_EQ(g_calleeSearched, 1);
    EXPECT_EQ(g_calleeUnwound, 1) << "the frame the guard skipped was not unwound";
    EXPECT_EQ(ExceptionChainHead(), before);
}

// What the guard lets pass goes on to the frames outside it and, with none, to the top-level filter. Run in
// a child process (VELVIEW_GUARD_CHILD="<code> <flags> <overflow>"), whose filter ends it with the code of
// the exception that arrived there; 1 means the guard stopped it and the call came back.
std::int32_t __stdcall Raises(std::int32_t code, std::int32_t flags) {
    const ULONG_PTR info[3] = {0x19930520, 0, 0};  // what another compiler's C++ throw carries
    RaiseException(static_cast<DWORD>(code), static_cast<DWORD>(flags), 3, info);
    return 2;
}
std::int32_t __stdcall Recurses(std::int32_t depth) {
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    return depth < 0 ? frame[0] : Recurses(depth + 1) + frame[0];
}
LONG WINAPI EndWithTheExceptionsCode(EXCEPTION_POINTERS* pointers) {
    ExitProcess(pointers->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

TEST(CallStdcall, GuardChild) {
    wchar_t spec[64] = {};
    if (!GetEnvironmentVariableW(L"VELVIEW_GUARD_CHILD", spec, 64)) GTEST_SKIP() << "run by the test below";
    unsigned long code = 0, flags = 0, overflow = 0;
    swscanf(spec, L"%lx %lx %lu", &code, &flags, &overflow);
    SetUnhandledExceptionFilter(EndWithTheExceptionsCode);
    const std::int32_t args[2] = {static_cast<std::int32_t>(code), static_cast<std::int32_t>(flags)};
    if (overflow == 2)
        Recurses(args[0]);  // the same overflow with no guard: what the platform reports for it
    else if (overflow)
        cUniversalDLLCalls::CallStdcall(reinterpret_cast<const void*>(&Recurses), args, 1);
    else
        cUniversalDLLCalls::CallStdcall(reinterpret_cast<const void*>(&Raises), args, 2);
    ExitProcess(1);
}

TEST(CallStdcall, TheGuardStopsOnlyFaultsThatLeaveTheProcessAbleToGoOn) {
    struct Case {
        const wchar_t* spec;
        DWORD exitCode;  // 1: stopped by the guard, 0: as with no guard, else the exception that reached the top
    } cases[] = {
        {L"C0000005 0 0", 1},                   // a bad pointer in the callee
        {L"E0000001 0 0", 1},                   // a software exception raised continuable
        {L"E06D7363 1 0", 0xE06D7363},          // another compiler's C++ exception: non-continuable
        {L"C0000005 1 0", 0xC0000005},          // anything raised non-continuable
        {L"C00000FD 0 0", 0xC00000FD},          // a stack overflow
        {L"0 0 1", 0},                          // a real one (an emulator may report it as another fault)
        {L"C0000374 0 0", 0xC0000374},          // heap corruption
        {L"80000003 0 0", 0x80000003},          // a breakpoint: for a debugger, not a failure
    };
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const auto endOfChild = [&](const wchar_t* spec) -> DWORD {
        SetEnvironmentVariableW(L"VELVIEW_GUARD_CHILD", spec);
        auto child = vantorix::win::StartProgramTracked(self, {L"--gtest_filter=CallStdcall.GuardChild"}, SW_HIDE);
        SetEnvironmentVariableW(L"VELVIEW_GUARD_CHILD", nullptr);
        EXPECT_TRUE(child);
        if (!child) return 0;
        EXPECT_EQ(WaitForSingleObject(child.get(), 60000), WAIT_OBJECT_0);
        DWORD code = 0;
        GetExitCodeProcess(child.get(), &code);
        return code;
    };
    const DWORD unguardedOverflow = endOfChild(L"0 0 2");
    EXPECT_NE(unguardedOverflow, 1u);
    for (const Case& c : cases) {
        const DWORD expected = c.exitCode ? c.exitCode : unguardedOverflow;
        const DWORD code = endOfChild(c.spec);
        EXPECT_EQ(code, expected) << std::hex << "case " << (&c - cases) << " ended with " << code;
    }
}

// Generated code is never writable and executable at once: the adapter's page is execute-read, a write
// into it faults (caught by the guard), and the adapter still runs afterwards.
std::int32_t __stdcall WritesTo(std::int32_t address) {
    *reinterpret_cast<volatile std::uint8_t*>(static_cast<std::uintptr_t>(address)) = 0xC3;
    return 1;
}

TEST(CdeclAdapter, ItsCodeIsExecutableButNotWritable) {
    void* adapter = velview::x86::MakeCdeclAdapter(reinterpret_cast<const void*>(&Order), 3);
    ASSERT_NE(adapter, nullptr);
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_NE(VirtualQuery(adapter, &info, sizeof info), 0u);
    EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_EXECUTE_READ));
    const std::int32_t at[] = {static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(adapter))};
    EXPECT_EQ(cUniversalDLLCalls::CallStdcall(reinterpret_cast<const void*>(&WritesTo), at, 1), 0)
        << "the write into the adapter went through";
    using Cdecl3 = std::int32_t(__cdecl*)(std::int32_t, std::int32_t, std::int32_t);
    EXPECT_EQ(reinterpret_cast<Cdecl3>(adapter)(1, 2, 3), 123);
    EXPECT_TRUE(velview::x86::ReleaseCdeclAdapter(adapter));
}

}  // namespace
