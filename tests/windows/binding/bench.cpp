// Benchmark, not a timed test: prints what one bridge call and one adapter call cost, each as a ratio
// to a direct call of the same function measured in the same run (so emulation speed cancels out).
// Checks only that every path computes the same results.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

#include "webview/api/miniblink_api.h"
#include "webview/bridge/universal_dll_calls.h"
#include "webview/x86/adapters.h"

namespace {

double Now() {
    LARGE_INTEGER t, f;
    QueryPerformanceCounter(&t);
    QueryPerformanceFrequency(&f);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

// Seconds per call of `body`, repeated until at least a quarter second has passed.
template <class F>
double PerCall(F body) {
    long n = 0;
    const double start = Now();
    double elapsed = 0;
    do {
        for (int i = 0; i < 1000; ++i) body();
        n += 1000;
        elapsed = Now() - start;
    } while (elapsed < 0.25);
    return elapsed / n;
}

void Report(const char* what, double direct, double other) {
    std::printf("%-58s direct %8.1f ns   via %9.1f ns   ratio %6.1f\n", what, direct * 1e9, other * 1e9, other / direct);
}

std::uint32_t __stdcall Add3(std::uint32_t a, std::uint32_t b, std::uint32_t c) { return a + b * 3 + c * 7; }

TEST(Benchmark, BridgeAndAdapterCostAgainstDirectCalls) {
    // 1. CallFunction_DLL round trip, export looked up by name at every call, as every engine wrapper does.
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    using Pid = DWORD(WINAPI*)();
    volatile Pid pid = reinterpret_cast<Pid>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetCurrentProcessId")));
    velview::cUniversalDLLCalls calls;
    ASSERT_EQ(calls.CallFunction_DLL(L"kernel32.dll", L"GetCurrentProcessId", 0, VT_I4, CC_STDCALL).AsInt32(),
              static_cast<std::int32_t>(pid()));
    volatile DWORD sink = 0;
    const double direct = PerCall([&] { sink = pid(); });
    const double bridged =
        PerCall([&] { sink = calls.CallFunction_DLL(L"kernel32.dll", L"GetCurrentProcessId", 0, VT_I4, CC_STDCALL).AsInt32(); });
    Report("CallFunction_DLL(GetCurrentProcessId) vs direct", direct, bridged);
    // Where the time goes: the lookup by name, and the platform's dynamic call alone.
    volatile FARPROC found = nullptr;
    const double lookup = PerCall([&] { found = GetProcAddress(kernel, "GetCurrentProcessId"); });
    Report("  of which: GetProcAddress by name", direct, lookup);
    VARIANT result;
    VariantInit(&result);
    VARTYPE noTypes[1] = {VT_EMPTY};
    VARIANTARG* noArgs[1] = {nullptr};
    const double dynamic = PerCall([&] {
        DispCallFunc(nullptr, reinterpret_cast<ULONG_PTR>(static_cast<Pid>(pid)), CC_STDCALL, VT_I4, 0, noTypes,
                     noArgs, &result);
    });
    Report("  of which: DispCallFunc on a known address", direct, dynamic);
    (void)found;

    // 2. The same through the engine: jsInt of the stand-in, direct versus the MiniblinkAPI method.
    HMODULE engine = LoadLibraryW(L"node.dll");  // the stand-in, next to this program
    ASSERT_NE(engine, nullptr);
    using JsInt = std::int64_t(__cdecl*)(int);
    volatile JsInt jsInt = reinterpret_cast<JsInt>(reinterpret_cast<void*>(GetProcAddress(engine, "jsInt")));
    ASSERT_NE(jsInt, nullptr);
    _MiniblinkAPI* api = nullptr;
    ASSERT_EQ(velview::api::CreateMiniblinkAPI(&api), S_OK);
    CY value{};
    api->jsInt(42, &value);
    // Each call makes a new script value: compare what they hold.
    long viaApi = 0, viaDirect = 0;
    CY made{};
    made.int64 = jsInt(42);
    api->jsToInt(0, value, &viaApi);
    api->jsToInt(0, made, &viaDirect);
    EXPECT_EQ(viaApi, 42);
    EXPECT_EQ(viaDirect, 42);
    volatile std::int64_t sink64 = 0;
    const double engineDirect = PerCall([&] { sink64 = jsInt(42); });
    const double engineWrapped = PerCall([&] {
        api->jsInt(42, &value);
        sink64 = value.int64;
    });
    Report("MiniblinkAPI::jsInt (stand-in engine) vs direct", engineDirect, engineWrapped);
    api->Release();

    // 3. A cdecl caller through an adapter versus calling the stdcall routine itself.
    using Std = std::uint32_t(__stdcall*)(std::uint32_t, std::uint32_t, std::uint32_t);
    using Cdecl = std::uint32_t(__cdecl*)(std::uint32_t, std::uint32_t, std::uint32_t);
    volatile Std plain = &Add3;
    volatile Cdecl adapted = reinterpret_cast<Cdecl>(velview::x86::MakeCdeclAdapter(reinterpret_cast<const void*>(&Add3), 3));
    ASSERT_NE(adapted, nullptr);
    EXPECT_EQ(adapted(1, 2, 3), plain(1, 2, 3));
    volatile std::uint32_t sink32 = 0;
    const double stdDirect = PerCall([&] { sink32 = plain(1, 2, 3); });
    const double viaAdapter = PerCall([&] { sink32 = adapted(1, 2, 3); });
    Report("cdecl adapter -> stdcall routine (3 arguments) vs direct", stdDirect, viaAdapter);
    (void)sink;
    (void)sink64;
    (void)sink32;
}

}  // namespace
