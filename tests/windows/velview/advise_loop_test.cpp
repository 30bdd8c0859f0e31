// A host that connects a new handler for each event it handles, as some containers do (a handler per page
// or per dialog): a new sink, the connection point found the way a foreign container finds it, Advise, the
// event, Unadvise, every reference let go, over and over. Nothing of such a cycle may stay in the library:
// for every event kind of the callback receiver (MiniblinkCallBack), of the window-less web view object
// (VelviewCls) and of the web view control (Velview), the process's heaps hold no more after many cycles
// than after a few. Everything goes through the shipped Velview_G_201.ocx, as a foreign COM host sees it.
//
// The engine's side is called directly, with arguments made once: the stand-in's own firing keeps every
// text it makes (by design, see standinFire) and would bury the library's figure in its own. The stand-in's
// call log is off while cycles are counted. Each kind's figure is printed ("[advise loop] ...").
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "standin.h"
#include "test_container.h"
#include "tests/windows/callbacks/checked_call.h"
#include "webview/events/callback_kinds.h"

using namespace velview_test;
namespace ev = velview::events;

namespace {

// Bytes of the blocks in use in every heap of the process, as HeapWalk reports them.
std::int64_t HeapBytesInUse() {
    HANDLE heaps[256];
    const DWORD count = GetProcessHeaps(256, heaps);
    std::int64_t total = 0;
    for (DWORD i = 0; i < count && i < 256; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += static_cast<std::int64_t>(entry.cbData);
        HeapUnlock(heaps[i]);
    }
    return total;
}

// Committed private memory of the process (heap pages, and blocks of VirtualAlloc such as generated code).
std::int64_t CommittedPrivateBytes() {
    std::int64_t total = 0;
    MEMORY_BASIC_INFORMATION region{};
    const char* at = nullptr;
    while (VirtualQuery(at, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += static_cast<std::int64_t>(region.RegionSize);
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return total;
}

std::uint32_t Address(const void* p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); }

// Calls an engine-side entry with 32-bit argument words (stdcall or cdecl: the stack is put back either way).
void CallEntry(std::uint32_t entry, const std::vector<std::uint32_t>& words) {
    callbacks_test::CallStdcallChecked(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(entry)),
                                       words.data(), static_cast<int>(words.size()));
}

// One event kind of one source: how the engine reaches it and what its handler does besides.
struct Kind {
    std::string name;
    DISPID id;
    std::uint32_t entry;               // the address the engine calls
    std::vector<std::uint32_t> words;  // the engine's arguments
    DISPID returnId = 0;               // a boolean Return_ property the handler sets late-bound (0: none)
};

// What one cycle cost, on average over the counted cycles.
struct Growth {
    double heapPerCycle;
    double committedPerCycle;
    int handled;  // events of the kind the handlers saw, warm-up included
};

// What a host's handler does inside an event: answers the prompt (a new text in place of the old one),
// writes into a record, reads the texts, and sets the kind's result through IDispatch. It keeps nothing.
void ActLikeAHost(IDispatch* source, DISPID returnId, DISPPARAMS* params) {
    for (UINT i = 0; i < params->cArgs; ++i) {
        VARIANTARG& value = params->rgvarg[i];
        if (value.vt == (VT_BSTR | VT_BYREF)) {
            SysFreeString(*value.pbstrVal);
            *value.pbstrVal = SysAllocString(L"an answer \u2713");
        } else if (value.vt == (VT_RECORD | VT_BYREF) && value.pvRecord) {
            static_cast<std::uint8_t*>(value.pvRecord)[0] ^= 1;
        } else if (value.vt == VT_BSTR && value.bstrVal) {
            volatile wchar_t first = value.bstrVal[0];
            (void)first;
        }
    }
    if (returnId != 0) {
        VARIANT answer;
        answer.vt = VT_BOOL;
        answer.boolVal = VARIANT_TRUE;
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS put{&answer, &named, 1, 1};
        source->Invoke(returnId, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr);
    }
}

// One cycle as a foreign container runs it: a new handler object; the source's event interface from its
// class information; the connection point from the enumeration; Advise, the event, Unadvise; every
// reference let go. `extra` runs inside the handler after ActLikeAHost (the leak check uses it).
void Cycle(IDispatch* source, const Kind& kind, int& handled, const std::function<void()>& extra = nullptr) {
    IID events = IID_NULL;
    IProvideClassInfo2* classInfo = nullptr;
    if (SUCCEEDED(source->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&classInfo)))) {
        classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events);
        classInfo->Release();
    }
    auto* sink = new EventSink(events);
    sink->record = false;
    sink->reaction = [&](DISPID seen, DISPPARAMS* params) {
        if (seen == kind.id) ++handled;
        ActLikeAHost(source, kind.returnId, params);
        if (extra) extra();
    };
    IConnectionPointContainer* container = nullptr;
    IEnumConnectionPoints* points = nullptr;
    IConnectionPoint* point = nullptr;
    DWORD cookie = 0;
    IID offered = IID_NULL;
    if (SUCCEEDED(source->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))) &&
        SUCCEEDED(container->EnumConnectionPoints(&points)) && points->Next(1, &point, nullptr) == S_OK &&
        SUCCEEDED(point->GetConnectionInterface(&offered)) && IsEqualIID(offered, events) &&
        SUCCEEDED(point->Advise(sink, &cookie))) {
        CallEntry(kind.entry, kind.words);
        point->Unadvise(cookie);
    }
    if (point) point->Release();
    if (points) points->Release();
    if (container) container->Release();
    sink->Release();
}

class AdviseLoop : public ::testing::Test {
protected:
    // Cycles per kind after the warm-up; a leak of a few bytes per cycle adds up to kilobytes over them.
    static constexpr int kWarmUp = 40;
    static constexpr int kCycles = 400;
    // The most a kind may leave behind per cycle on average (heap bytes): the smallest thing that could be
    // kept per cycle (an empty BSTR, a list entry, a sink) takes more than this alone, while a one-off
    // allocation of the system's during the counted cycles (up to 1.6 KB) still passes.
    static constexpr double kBound = 4.0;

    void SetUp() override {
        ASSERT_EQ(OleInitialize(nullptr), S_OK);
        ASSERT_TRUE(engine().ok()) << "node.dll with its test surface next to the test";
        ASSERT_EQ(Library::Create(CLSID_MiniblinkAPI, IID__MiniblinkAPI, reinterpret_cast<void**>(&api_)), S_OK);
    }
    void TearDown() override {
        engine().standinLogEnable(1);
        if (api_) api_->Release();
        OleUninitialize();
    }
    static const Standin& engine() { return Standin::Get(); }

    long EngineString(const wchar_t* text) {
        BSTR b = SysAllocString(text);
        long handle = 0;
        EXPECT_EQ(api_->wkeCreateStringW(b, static_cast<long>(SysStringLen(b)), &handle), S_OK);
        SysFreeString(b);
        return handle;
    }

    Growth Measure(IDispatch* source, const Kind& kind, const std::function<void()>& extra = nullptr) {
        int handled = 0;
        for (int i = 0; i < kWarmUp; ++i) Cycle(source, kind, handled, extra);
        const std::int64_t heapBefore = HeapBytesInUse();
        const std::int64_t committedBefore = CommittedPrivateBytes();
        for (int i = 0; i < kCycles; ++i) Cycle(source, kind, handled, extra);
        const Growth g{static_cast<double>(HeapBytesInUse() - heapBefore) / kCycles,
                       static_cast<double>(CommittedPrivateBytes() - committedBefore) / kCycles, handled};
        std::printf("[advise loop] %-40s heap %+8.2f B/cycle, committed %+9.2f B/cycle\n", kind.name.c_str(),
                    g.heapPerCycle, g.committedPerCycle);
        std::fflush(stdout);
        return g;
    }

    // Every kind of one source: each handler saw its event in every cycle, and no kind grew the heaps.
    void ExpectNothingKept(IDispatch* source, const std::vector<Kind>& kinds) {
        engine().standinLogEnable(0);
        std::vector<std::string> grown;
        for (const Kind& kind : kinds) {
            ASSERT_NE(kind.entry, 0u) << kind.name;
            const Growth g = Measure(source, kind);
            EXPECT_EQ(g.handled, kWarmUp + kCycles) << kind.name << ": every cycle's handler gets its event";
            if (g.heapPerCycle > kBound)
                grown.push_back(kind.name + ": " + std::to_string(g.heapPerCycle) + " B/cycle");
        }
        engine().standinLogEnable(1);
        EXPECT_TRUE(grown.empty()) << ::testing::PrintToString(grown);
    }

    // The five events of a web view (object or control) on `view`, reached as the engine reaches them: the
    // four registrations the view made, and the page's "jsCall" with an execution state of that view.
    std::vector<Kind> ViewKinds(long view, std::uint32_t jsCall) {
        auto registered = [&](const char* registration) {
            unsigned int callback = 0, param = 0;
            EXPECT_EQ(engine().standinRegistration(static_cast<int>(view), registration, &callback, &param), 1)
                << registration;
            return std::pair<std::uint32_t, std::uint32_t>(callback, param);
        };
        const auto ready = registered("wkeOnDocumentReady");
        const auto begin = registered("wkeOnLoadUrlBegin");
        const auto create = registered("wkeOnCreateView");
        const auto end = registered("wkeOnLoadUrlEnd");
        const auto v = static_cast<std::uint32_t>(view);
        return {
            {"DocumentReady", 1, ready.first, {v, ready.second}},
            {"LoadUrlBegin", 2, begin.first, {v, begin.second, Address(kUrl), 0x7001}},
            {"jsCall", 3, jsCall, {PageCallState(view), 0}},
            {"ShowNewView", 4, create.first, {v, create.second, 0, Address(kUrl), Address(features_)}},
            {"LoadUrlEnd", 5, end.first, {v, end.second, Address(kUrl), 0x7002, Address(bytes_), sizeof bytes_}},
        };
    }

    // The callback the library bound as the page's "jsCall" (what it handed the engine).
    std::uint32_t JsCallBinding() {
        const std::vector<int> binds = engine().Find("wkeJsBindFunction");
        EXPECT_EQ(binds.size(), 1u) << "bound once per process";
        return binds.empty() ? 0 : static_cast<std::uint32_t>(engine().standinLogArgValue(binds[0], 1));
    }

    // An execution state of a page call on `view` with an index and a text, made once by the engine.
    std::uint32_t PageCallState(long view) {
        static std::uint32_t captured = 0;
        struct Capture {
            static std::uint64_t __stdcall State(std::uint32_t es, std::uint32_t) {
                captured = es;
                return 0;
            }
        };
        static const bool bound = [this] {
            BSTR name = SysAllocString(L"captureState");
            const auto routine = static_cast<long>(Address(reinterpret_cast<const void*>(&Capture::State)));
            const HRESULT hr = api_->wkeJsBindFunction(name, routine, 0, 2);
            SysFreeString(name);
            return SUCCEEDED(hr);
        }();
        EXPECT_TRUE(bound);
        captured = 0;
        const wchar_t* args[2] = {L"7", L"from the page \u2713"};
        EXPECT_EQ(engine().standinCallBoundStrings("captureState", static_cast<int>(view), args, 2, nullptr), 1);
        EXPECT_NE(captured, 0u);
        return captured;
    }

    static constexpr char kUrl[] = "http://vantorix.test/skin/ui.html?q=1&r=2";
    std::uint8_t features_[32] = {};
    std::uint8_t bytes_[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    _MiniblinkAPI* api_ = nullptr;
};

// The measure itself: a handler that keeps one text of 100 characters per event is seen as at least that
// many bytes per cycle (so a heap walk that sees nothing cannot pass the tests below).
TEST_F(AdviseLoop, AHandlerThatKeepsATextPerEventIsSeen) {
    _MiniblinkCallBack* receiver = nullptr;
    ASSERT_EQ(Library::Create(CLSID_MiniblinkCallBack, IID__MiniblinkCallBack, reinterpret_cast<void**>(&receiver)),
              S_OK);
    long stub = 0;
    ASSERT_EQ(receiver->get_wkeDocumentReadyCallback(&stub), S_OK);
    const Kind kind{"a handler that keeps a text", ev::EventIdOf(10), static_cast<std::uint32_t>(stub), {1, 2}};
    std::vector<BSTR> kept;
    kept.reserve(kWarmUp + kCycles);
    engine().standinLogEnable(0);
    const Growth g = Measure(receiver, kind, [&kept] { kept.push_back(SysAllocStringLen(nullptr, 100)); });
    engine().standinLogEnable(1);
    EXPECT_EQ(g.handled, kWarmUp + kCycles);
    EXPECT_GE(g.heapPerCycle, 200.0);
    for (BSTR b : kept) SysFreeString(b);
    receiver->Release();
}

// A host that registers its handler with the engine again in every cycle (a handler per page) hands the
// engine the adapter it made the first time: nothing new per registration.
TEST_F(AdviseLoop, RegisteringTheSameHandlerAgainLeavesNothing) {
    _MiniblinkCallBack* receiver = nullptr;
    ASSERT_EQ(Library::Create(CLSID_MiniblinkCallBack, IID__MiniblinkCallBack, reinterpret_cast<void**>(&receiver)),
              S_OK);
    long stub = 0, view = 0;
    ASSERT_EQ(receiver->get_wkeDocumentReadyCallback(&stub), S_OK);
    ASSERT_EQ(api_->wkeCreateWebView(&view), S_OK);
    const Kind kind{"registered again each cycle", ev::EventIdOf(10), static_cast<std::uint32_t>(stub), {1, 2}};
    engine().standinLogEnable(0);
    const Growth g = Measure(receiver, kind, [&] { api_->wkeOnDocumentReady(view, stub, 0); });
    engine().standinLogEnable(1);
    EXPECT_EQ(g.handled, kWarmUp + kCycles);
    EXPECT_LE(g.heapPerCycle, kBound);
    receiver->Release();
}

TEST_F(AdviseLoop, EveryReceiverEventKindLeavesNothingPerCycle) {
    _MiniblinkCallBack* receiver = nullptr;
    ASSERT_EQ(Library::Create(CLSID_MiniblinkCallBack, IID__MiniblinkCallBack, reinterpret_cast<void**>(&receiver)),
              S_OK);
    // The engine's arguments, made once: engine string objects, a platform string, a record.
    const long texts[3] = {EngineString(L"Title \u6807\u9898"), EngineString(L"default \u00e9"),
                           EngineString(L"at page.js:12")};
    const long promptResult = EngineString(L"");
    BSTR platformText = SysAllocString(L"registration text \u4e2d");
    std::uint8_t record[32] = {};
    std::vector<Kind> kinds;
    for (int slot = 0; slot < ev::kKindCount; ++slot) {
        const ev::CallbackKind& kind = ev::kCallbackKinds[static_cast<std::size_t>(slot)];
        VARIANT stub;
        VariantInit(&stub);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        ASSERT_EQ(receiver->Invoke(ev::StubIdOf(slot), IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &stub, nullptr,
                                   nullptr),
                  S_OK);
        std::vector<std::uint32_t> words;
        int text = 0;
        for (int i = 0; i < kind.argCount; ++i) {
            switch (kind.args[static_cast<std::size_t>(i)]) {
                case ev::Arg::Int: words.push_back(0x5A00u + static_cast<std::uint32_t>(i)); break;
                case ev::Arg::Url: words.push_back(Address(kUrl)); break;
                case ev::Arg::EngineText: words.push_back(static_cast<std::uint32_t>(texts[text++ % 3])); break;
                case ev::Arg::PlatformText: words.push_back(Address(platformText)); break;
                case ev::Arg::PromptResult: words.push_back(static_cast<std::uint32_t>(promptResult)); break;
                case ev::Arg::MemBuf:
                case ev::Arg::Rect:
                case ev::Arg::WindowFeatures:
                case ev::Arg::MediaLoadInfo: words.push_back(Address(record)); break;
            }
        }
        kinds.push_back({std::string(kind.name, kind.name + std::wcslen(kind.name)), ev::EventIdOf(slot),
                         static_cast<std::uint32_t>(stub.lVal), words,
                         kind.result == ev::Result::Bool ? kind.returnId : 0});
    }
    ExpectNothingKept(receiver, kinds);
    SysFreeString(platformText);
    receiver->Release();
}

TEST_F(AdviseLoop, EveryWebViewEventLeavesNothingPerCycle) {
    _VelviewCls* object = nullptr;
    ASSERT_EQ(Library::Create(CLSID_VelviewCls, IID__VelviewCls, reinterpret_cast<void**>(&object)), S_OK);
    long objectView = 0;
    object->GetWebWindow(&objectView);
    ASSERT_NE(objectView, 0);
    BSTR html = SysAllocString(L"<html><head><title>Shown \u2713</title></head><body>x</body></html>");
    object->LoadHtml(html);
    const std::uint32_t jsCall = JsCallBinding();
    ExpectNothingKept(object, ViewKinds(objectView, jsCall));

    Form form;
    _Velview* control = form.Place(RECT{0, 0, 300, 200});
    ASSERT_NE(control, nullptr);
    long controlView = 0;
    control->GetWebWindow(&controlView);
    ASSERT_NE(controlView, 0);
    control->LoadHtml(html);
    std::vector<Kind> kinds = ViewKinds(controlView, jsCall);
    for (Kind& kind : kinds) kind.name = "control " + kind.name;
    ExpectNothingKept(control, kinds);
    SysFreeString(html);
    control->Release();
    object->Release();
}

}  // namespace
