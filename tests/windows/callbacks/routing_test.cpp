// jsCall routing: one binding per process, each page call reaching the handler of its own view.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "engine_fixture.h"
#include "webview/routing/js_call_routing.h"
#include "webview/thunks/method_thunks.h"
#include "webview/x86/adapters.h"

namespace routing = velview::routing;
using velview::thunks::Method;
using velview::thunks::MethodOf;
using velview::thunks::MethodThunks;

namespace {

// A web view owner as far as routing goes: its script-call handler in slot 2 (ordinal 3, 2 parameters).
class ViewOwner {
public:
    ULONG AddRef() { return static_cast<ULONG>(++refs_); }
    ULONG Release() { return static_cast<ULONG>(--refs_); }

    struct Call {
        int view;
        int argCount;
        std::uint32_t param;
    };
    std::vector<Call> calls;
    bool fails = false;

    std::uint32_t OnLoadUrlEnd(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                               std::uint32_t) { return 0; }
    std::uint32_t OnCreateView(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) { return 0; }
    std::uint32_t OnJsCall(std::uint32_t es, std::uint32_t param) {
        if (fails) throw std::runtime_error("handler failed");
        calls.push_back({jsGetWebView(static_cast<int>(es)), jsArgCount(static_cast<int>(es)), param});
        return 0xDEAD;  // not used by the dispatcher
    }
    std::uint32_t OnLoadUrlBegin(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) { return 0; }
    std::uint32_t OnDocumentReady(std::uint32_t, std::uint32_t) { return 0; }

    static const Method kMethods[5];
    MethodThunks<ViewOwner, 5> thunks{*this, L"ViewOwner", kMethods};

    // What a view owner does when it creates its view.
    int Start() {
        const std::uint32_t stub = thunks.cb_Callback(3, 2, 2);
        if (routing::ClaimJsCallBinding()) {
            using Bind = void(__cdecl*)(const char*, void*, int, int);
            auto bind = reinterpret_cast<Bind>(
                reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"node.dll"), "wkeJsBindFunction")));
            bind("jsCall", velview::x86::MakeCdeclAdapter(reinterpret_cast<const void*>(routing::JsCallDispatchAddress()), 2),
                 0, 2);
        }
        view = callbacks_test::NewView();
        routing::SetJsCallRoute(static_cast<std::uint32_t>(view), stub);
        jsCallStub = stub;
        return view;
    }
    int view = 0;
    std::uint32_t jsCallStub = 0;

private:
    long refs_ = 1;
};

const Method ViewOwner::kMethods[5] = {MethodOf<&ViewOwner::OnLoadUrlEnd>(), MethodOf<&ViewOwner::OnCreateView>(),
                                       MethodOf<&ViewOwner::OnJsCall>(), MethodOf<&ViewOwner::OnLoadUrlBegin>(),
                                       MethodOf<&ViewOwner::OnDocumentReady>()};

int CountBindings(const char* name) {
    int count = 0;
    char text[64];
    for (int at = standinLogFind("wkeJsBindFunction", 0); at >= 0; at = standinLogFind("wkeJsBindFunction", at + 1)) {
        const int n = standinLogArgBytes(at, 0, reinterpret_cast<unsigned char*>(text), sizeof text - 1);
        if (n >= 0 && std::string(text, static_cast<std::size_t>(n)) == name) ++count;
    }
    return count;
}

unsigned long long PageCall(int view, std::initializer_list<const wchar_t*> args, int* called) {
    std::vector<const wchar_t*> list(args);
    unsigned long long result = 0xFFFFFFFFFFFFFFFFull;
    *called = standinCallBoundStrings("jsCall", view, list.data(), static_cast<int>(list.size()), &result);
    return result;
}

}  // namespace

TEST(JsCallRouting, KeysAreTheSignedHandleThenJsCallAddress) {
    EXPECT_EQ(routing::JsCallKey(1234), L"1234-JsCallAddress");
    EXPECT_EQ(routing::JsCallKey(0), L"0-JsCallAddress");
    EXPECT_EQ(routing::JsCallKey(0x80000001u), L"-2147483647-JsCallAddress");
    EXPECT_EQ(routing::JsCallKey(0xFFFFFFFFu), L"-1-JsCallAddress");
}

TEST(JsCallRouting, TableEntriesAreWrittenOverwrittenAndRemovedOnlyByTheirOwner) {
    routing::SetJsCallRoute(777001, 0x1000);
    EXPECT_EQ(routing::JsCallRoute(777001), 0x1000u);
    routing::SetJsCallRoute(777001, 0x2000);  // a new view with an equal handle takes the entry over
    EXPECT_EQ(routing::JsCallRoute(777001), 0x2000u);
    EXPECT_FALSE(routing::RemoveJsCallRoute(777001, 0x1000)) << "the old owner cannot remove the new entry";
    EXPECT_EQ(routing::JsCallRoute(777001), 0x2000u);
    EXPECT_TRUE(routing::RemoveJsCallRoute(777001, 0x2000));
    EXPECT_EQ(routing::JsCallRoute(777001), 0u);
    EXPECT_EQ(routing::JsCallRoute(777002), 0u) << "a missing entry reads as 0";
}

TEST(JsCallRouting, TwoViewsBindOnceAndEachPageCallReachesItsOwnView) {
    standinLogClear();
    ViewOwner first, second;
    const int viewA = first.Start();
    const int viewB = second.Start();
    ASSERT_NE(viewA, 0);
    ASSERT_NE(viewB, viewA);
    EXPECT_TRUE(routing::JsCallBound());
    EXPECT_EQ(CountBindings("jsCall"), 1) << "jsCall is bound once per process";
    EXPECT_FALSE(routing::ClaimJsCallBinding());

    int called = 0;
    EXPECT_EQ(PageCall(viewA, {L"5", L"abc"}, &called), 0ull) << "the dispatcher returns the script value 0";
    EXPECT_EQ(called, 1);
    ASSERT_EQ(first.calls.size(), 1u);
    EXPECT_EQ(first.calls[0].view, viewA) << "the handler got the call's own execution state";
    EXPECT_EQ(first.calls[0].argCount, 2);
    EXPECT_EQ(first.calls[0].param, 0u);
    EXPECT_TRUE(second.calls.empty());

    PageCall(viewB, {L"1", L"x", L"y"}, &called);
    ASSERT_EQ(second.calls.size(), 1u);
    EXPECT_EQ(second.calls[0].view, viewB);
    EXPECT_EQ(second.calls[0].argCount, 3);
    EXPECT_EQ(first.calls.size(), 1u);

    const int stranger = callbacks_test::NewView();  // a view nobody registered
    EXPECT_EQ(PageCall(stranger, {L"2", L"z"}, &called), 0ull);
    EXPECT_EQ(called, 1) << "jsCall is bound for every view";
    EXPECT_EQ(first.calls.size() + second.calls.size(), 2u) << "an unknown view makes no call";

    EXPECT_TRUE(routing::RemoveJsCallRoute(static_cast<std::uint32_t>(viewA), first.jsCallStub));
    PageCall(viewA, {L"3", L"gone"}, &called);
    EXPECT_EQ(first.calls.size(), 1u) << "a removed entry drops the call";

    second.fails = true;
    EXPECT_EQ(PageCall(viewB, {L"4", L"boom"}, &called), 0ull) << "a failing handler still gives 0";
    second.fails = false;
    PageCall(viewB, {L"5", L"again"}, &called);
    EXPECT_EQ(second.calls.size(), 2u) << "and the process goes on";
}
