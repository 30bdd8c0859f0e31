// Prints what one engine callback costs on its way to a host's handler, against calling the same code
// directly, measured in one run under the same emulation. Figures only; nothing here passes or fails.
#include <windows.h>

#include <cstdio>

#include "Velview_G_201.h"
#include "checked_call.h"
#include "engine_fixture.h"
#include "recording_sink.h"
#include "webview/events/miniblink_callback.h"
#include "webview/thunks/method_thunks.h"
#include "webview/x86/adapters.h"

namespace {

// The thread's own processor time: what other processes do on a busy machine does not count in it (the
// clock's ticks are coarse, so each measured loop runs for a second or so).
double ThreadSeconds() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;
}

template <class F>
double PerCall(int count, F&& call) {
    const double start = ThreadSeconds();
    for (int i = 0; i < count; ++i) call(i);
    return (ThreadSeconds() - start) / count * 1e6;  // microseconds
}

class Counter {
public:
    ULONG AddRef() { return 2; }
    ULONG Release() { return 1; }
    __attribute__((noinline)) std::uint32_t Add(std::uint32_t a, std::uint32_t b) { return total += a + b; }
    static const velview::thunks::Method kMethods[1];
    velview::thunks::MethodThunks<Counter, 1> thunks{*this, L"Counter", kMethods};
    std::uint32_t total = 0;
};
const velview::thunks::Method Counter::kMethods[1] = {velview::thunks::MethodOf<&Counter::Add>()};

}  // namespace

int main() {
    std::printf("(processor time of the calling thread)\n");
    const int kThunkCalls = 10000000;
    const int kEventCalls = 100000;

    Counter counter;
    const std::uint32_t entry = counter.thunks.cb_Callback(1, 2, 0);
    const double direct = PerCall(kThunkCalls, [&](int i) { counter.Add(static_cast<std::uint32_t>(i), 1); });
    const double viaEntry = PerCall(kThunkCalls, [&](int i) {
        const std::uint32_t args[2] = {static_cast<std::uint32_t>(i), 1};
        callbacks_test::CallStdcallChecked(reinterpret_cast<const void*>(entry), args, 2);
    });
    std::printf("method entry: %.3f us per call, direct member call %.3f us, ratio %.1f\n", viaEntry, direct,
                viaEntry / direct);

    _MiniblinkCallBack* receiver = nullptr;
    velview::events::MiniblinkCallBack::Create(IID__MiniblinkCallBack, reinterpret_cast<void**>(&receiver));
    callbacks_test::RecordingSink sink(DIID___MiniblinkCallBack);
    sink.onEvent = [&](DISPID, DISPPARAMS*) {
        sink.events.clear();
        return S_OK;
    };
    callbacks_test::Advise advise(receiver, DIID___MiniblinkCallBack, &sink);
    const int view = callbacks_test::NewView();
    long stub = 0;
    receiver->get_wkeLoadUrlBeginCallback(&stub);
    callbacks_test::RegisterWithEngine(
        "wkeOnLoadUrlBegin", view,
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(
            velview::x86::MakeCdeclAdapter(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(stub)), 4))),
        0);
    StandinFireArgs fire{};
    fire.url = L"http://vantorix.test/page.html";
    fire.job = 7;
    const double engineEvent = PerCall(kEventCalls, [&](int) { standinFire(view, "wkeOnLoadUrlBegin", &fire, nullptr); });

    // The same handler called directly with the same parameters, as if the engine were not in between.
    VARIANTARG args[4];
    args[3].vt = VT_I4;
    args[3].lVal = view;
    args[2].vt = VT_I4;
    args[2].lVal = 0;
    args[1].vt = VT_BSTR;
    args[1].bstrVal = SysAllocString(fire.url);
    args[0].vt = VT_I4;
    args[0].lVal = 7;
    DISPPARAMS params = {args, nullptr, 4, 0};
    const double handlerOnly = PerCall(kEventCalls, [&](int) {
        sink.Invoke(21, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    });
    std::printf("engine load-begin callback to the host's handler: %.2f us per call, handler called directly "
                "%.2f us, ratio %.1f\n",
                engineEvent, handlerOnly, engineEvent / handlerOnly);
    SysFreeString(args[1].bstrVal);
    receiver->Release();
    return 0;
}
