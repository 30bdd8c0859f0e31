// Benchmark (figures only, not part of the test run; tests/windows/velview/bench.sh runs it): one page
// "jsCall" through the whole chain (engine, cdecl adapter, dispatcher, stub, handler, event) to the
// host's event handler, against a direct C++ call of the same handler with the same arguments.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

#include "standin.h"
#include "test_container.h"

using namespace velview_test;

namespace {

// The thread's own processor time: what other processes do on a busy machine does not count in it (the
// clock's ticks are coarse, so each measured loop runs for a second or more).
double ThreadSeconds() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;
}

double SecondsFor(int rounds, const std::function<void()>& body) {
    const double start = ThreadSeconds();
    for (int i = 0; i < rounds; ++i) body();
    return ThreadSeconds() - start;
}

TEST(Bench, DISABLED_PageJsCallAgainstADirectCallOfTheHandler) {
    ASSERT_EQ(OleInitialize(nullptr), S_OK);
    const Standin& engine = Standin::Get();
    ASSERT_TRUE(engine.ok());
    {
        Form form;
        _Velview* control = form.Place(RECT{0, 0, 300, 200});
        auto* sink = new EventSink(DIID___Velview);
        sink->record = false;
        long handled = 0;
        sink->reaction = [&handled](DISPID, DISPPARAMS*) { ++handled; };
        Connect(control, DIID___Velview, sink);
        long view = 0;
        control->GetWebWindow(&view);
        const wchar_t* args[2] = {L"5", L"abc"};

        BSTR info = SysAllocString(L"abc");
        VARIANTARG direct[2];
        VariantInit(&direct[0]);
        direct[0].vt = VT_BSTR;  // rgvarg order: last argument first
        direct[0].bstrVal = info;
        VariantInit(&direct[1]);
        direct[1].vt = VT_I4;
        direct[1].lVal = 5;
        DISPPARAMS params{direct, nullptr, 2, 0};

        // Both paths warm up first (the emulator translates code on first use); the cheap direct call runs
        // a hundred times as often so that its figure is not lost in the clock's resolution.
        const int rounds = 20000, directRounds = 2000000;
        auto throughChain = [&] { engine.standinCallBoundStrings("jsCall", view, args, 2, nullptr); };
        auto directly = [&] { sink->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr); };
        SecondsFor(1000, throughChain);
        SecondsFor(10000, directly);
        engine.standinLogClear();
        handled = 0;
        double chain = SecondsFor(rounds, throughChain) / rounds;
        engine.standinLogClear();
        double call = SecondsFor(directRounds, directly) / directRounds;
        EXPECT_EQ(handled, rounds + directRounds);
        std::printf("(processor time of the calling thread)\n");
        std::printf("page jsCall through the chain: %.2f us per call\n", chain * 1e6);
        std::printf("direct call of the handler:    %.4f us per call\n", call * 1e6);
        std::printf("ratio chain / direct:          %.0f\n", call > 0 ? chain / call : 0.0);
        SysFreeString(info);
        control->Release();
        sink->Release();
    }
    OleUninitialize();
}

}  // namespace
