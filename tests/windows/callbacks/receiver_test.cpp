// MiniblinkCallBack driven through the stand-in engine: for each of the 27 kinds, the event with its
// parameters in engine order and their decoding, and the value the engine gets back.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Velview_G_201.h"
#include "engine_fixture.h"
#include "recording_sink.h"
#include "webview/events/callback_kinds.h"
#include "webview/events/miniblink_callback.h"
#include "webview/x86/adapters.h"

namespace ev = velview::events;
using callbacks_test::Advise;
using callbacks_test::RecordedArg;
using callbacks_test::RecordingSink;

namespace {

// How the stand-in engine reaches a kind, and what the event's parameters must be, in engine order:
//   view param      the view and the registration parameter
//   i0..i4          the fire arguments' integers      url   the plain-string url
//   t1 t2 t3        the engine string texts           job buf len   request, buffer address and length
//   rec             the record, copied                prompt  the prompt's result text (by reference)
//   ptext           the platform string passed as the registration parameter
//   es              an execution state of the view
enum class Route { Registration, WkeBound, JsBound, Direct };
struct KindCase {
    int slot;
    Route route;
    const char* registration;
    std::vector<std::string> expected;
};

const KindCase kCases[ev::kKindCount] = {
    {0, Route::Registration, "wkeOnWindowDestroy", {"view", "param"}},
    {1, Route::Registration, "wkeOnWindowClosing", {"view", "param"}},
    {2, Route::Registration, "wkeOnWillMediaLoad", {"view", "param", "url", "rec"}},
    {3, Route::Registration, "wkeOnWillReleaseScriptContext", {"view", "param", "i0", "i1", "i2"}},
    {4, Route::Registration, "wkeOnDidCreateScriptContext", {"view", "param", "i0", "i1", "i2", "i3"}},
    {5, Route::Registration, "wkeOnLoadUrlEnd", {"view", "param", "url", "job", "buf", "len"}},
    {6, Route::Registration, "wkeOnLoadUrlBegin", {"view", "param", "url", "job"}},
    {7, Route::Registration, "wkeOnConsole", {"view", "param", "i0", "t1", "t2", "i1", "t3"}},
    {8, Route::Registration, "wkeOnDownload", {"view", "param", "url"}},
    {9, Route::Registration, "wkeOnDocumentReady2", {"view", "param", "i0"}},
    {10, Route::Registration, "wkeOnDocumentReady", {"view", "param"}},
    {11, Route::Registration, "wkeOnCreateView", {"view", "param", "i0", "url", "rec"}},
    {12, Route::Registration, "wkeOnNavigation", {"view", "param", "i0", "url"}},
    {13, Route::Registration, "wkeOnPromptBox", {"view", "param", "t1", "t2", "prompt"}},
    {14, Route::Registration, "wkeOnConfirmBox", {"view", "param", "t1"}},
    {15, Route::Registration, "wkeOnAlertBox", {"view", "param", "t1"}},
    {16, Route::Registration, "wkeOnPaintBitUpdated", {"view", "param", "buf", "rec", "i0", "i1"}},
    {17, Route::Registration, "wkeOnPaintUpdated", {"view", "param", "i0", "i1", "i2", "i3", "i4"}},
    {18, Route::Registration, "wkeOnURLChanged2", {"view", "param", "i0", "url"}},
    {19, Route::Registration, "wkeOnURLChanged", {"view", "ptext", "url"}},
    {20, Route::Registration, "wkeOnTitleChanged", {"view", "param", "t1"}},
    {21, Route::WkeBound, nullptr, {"es", "param"}},
    {22, Route::JsBound, nullptr, {"es"}},
    {23, Route::Registration, "wkeNetGetFavicon", {"view", "param", "url", "rec"}},
    {24, Route::Direct, nullptr, {"view", "param"}},
    {25, Route::Registration, "wkeSetUIThreadCallback", {"view", "i0", "param"}},
    {26, Route::Registration, "wkeNetOnResponse", {"view", "param", "url", "job"}},
};

const wchar_t kUrl[] = L"http://vantorix.test/skin/ui.html?q=1&r=2";
const wchar_t kText1[] = L"Title \u6807\u9898 \u2713";
const wchar_t kText2[] = L"default \u00e9\u00e8";
const wchar_t kText3[] = L"at page.js:12 \u263a";
const wchar_t kPlatformText[] = L"registration text \u4e2d";
const wchar_t kPromptAnswer[] = L"answer \u2713 42";

std::size_t RecordSizeOf(int slot) {
    for (ev::Arg arg : ev::kCallbackKinds[static_cast<std::size_t>(slot)].args) {
        if (arg == ev::Arg::MemBuf) return 12;
        if (arg == ev::Arg::Rect) return 16;
        if (arg == ev::Arg::WindowFeatures) return 32;
        if (arg == ev::Arg::MediaLoadInfo) return 20;
    }
    return 0;
}

VARIANT Get(IDispatch* object, DISPID id) {
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    return result;
}

void Put(IDispatch* object, DISPID id, VARIANT value) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&value, &named, 1, 1};
    EXPECT_EQ(object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr), S_OK);
}

VARIANT Bool(bool value) {
    VARIANT v;
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}
VARIANT Long(long value) {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}
VARIANT Currency(std::int64_t bits) {
    VARIANT v;
    v.vt = VT_CY;
    v.cyVal.int64 = bits;
    return v;
}

// One receiver with its sink advised, a view, and every kind wired to the engine as a host would.
class ReceiverFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ev::MiniblinkCallBack::Create(IID__MiniblinkCallBack, reinterpret_cast<void**>(&receiver_)), S_OK);
        advise_ = std::make_unique<Advise>(receiver_, DIID___MiniblinkCallBack, &sink_);
        ASSERT_EQ(advise_->Result(), S_OK);
        view_ = callbacks_test::NewView();
        ASSERT_NE(view_, 0);
        platformText_ = SysAllocString(kPlatformText);
        for (int i = 0; i < 32; ++i) record_[i] = static_cast<std::uint8_t>(0x10 + i);
        for (int i = 0; i < 10; ++i) buffer_[i] = static_cast<char>(i);
    }
    void TearDown() override {
        advise_.reset();
        if (receiver_) receiver_->Release();
        SysFreeString(platformText_);
    }

    std::uint32_t Stub(int slot) {
        VARIANT v = Get(receiver_, ev::StubIdOf(slot));
        EXPECT_EQ(v.vt, VT_I4);
        return static_cast<std::uint32_t>(v.lVal);
    }
    int ParamOf(int slot) const {
        return slot == 19 ? static_cast<int>(reinterpret_cast<std::uintptr_t>(platformText_)) : 0x5A00 + slot;
    }
    void Wire(const KindCase& c, int view) {
        const std::uint32_t stub = Stub(c.slot);
        const auto* target = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(stub));
        const int argCount = ev::kCallbackKinds[static_cast<std::size_t>(c.slot)].argCount;
        const std::string name = "native" + std::to_string(c.slot);
        switch (c.route) {
            case Route::Registration:
                callbacks_test::RegisterWithEngine(c.registration, view,
                    static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(velview::x86::MakeCdeclAdapter(target, argCount))),
                    ParamOf(c.slot));
                break;
            case Route::WkeBound: {
                using Bind = void(__cdecl*)(const char*, void*, int, int);
                reinterpret_cast<Bind>(
                    reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"node.dll"), "wkeJsBindFunction")))(
                    name.c_str(), velview::x86::MakeCdeclAdapter(target, 2), ParamOf(c.slot), 2);
                break;
            }
            case Route::JsBound: {
                using Bind = void(__cdecl*)(const char*, void*, int);
                reinterpret_cast<Bind>(
                    reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"node.dll"), "jsBindFunction")))(
                    name.c_str(), velview::x86::MakeFastcallAdapter(target, 1, false, 0), 2);
                break;
            }
            case Route::Direct:
                direct_ = velview::x86::MakeCdeclAdapter(target, argCount);
                break;
        }
    }
    // Fires one kind as the engine does; returns the whole result the engine got (-1 when nothing fired).
    std::uint64_t Fire(const KindCase& c, int view) {
        fire_ = StandinFireArgs{};
        fire_.url = kUrl;
        fire_.text1 = kText1;
        fire_.text2 = kText2;
        fire_.text3 = kText3;
        for (int i = 0; i < 5; ++i) fire_.ints[i] = 101 * (i + 1);
        fire_.buffer = buffer_;
        fire_.bufferLength = 10;
        fire_.record = record_;
        const std::string name = "native" + std::to_string(c.slot);
        switch (c.route) {
            case Route::Registration: {
                unsigned int result = 0;
                if (!standinFire(view, c.registration, &fire_, &result)) return ~0ull;
                return result;
            }
            case Route::WkeBound:
            case Route::JsBound: {
                unsigned long long result = 0;
                const wchar_t* args[] = {L"a", L"b"};
                if (!standinCallBoundStrings(name.c_str(), view, args, 2, &result)) return ~0ull;
                return result;
            }
            case Route::Direct: {
                using Direct = std::uint32_t(__cdecl*)(int, int);
                return reinterpret_cast<Direct>(direct_)(view, ParamOf(c.slot));
            }
        }
        return ~0ull;
    }

    // Checks one recorded parameter against its expectation token.
    void Check(const KindCase& c, std::size_t index, const RecordedArg& arg, int view) {
        const std::string& token = c.expected[index];
        SCOPED_TRACE(std::string(ev::kCallbackKinds[static_cast<std::size_t>(c.slot)].name[0] ? "" : "") +
                     "slot " + std::to_string(c.slot) + " parameter " + std::to_string(index) + " (" + token + ")");
        if (token == "view") {
            EXPECT_EQ(arg.vt, VT_I4);
            EXPECT_EQ(arg.number, view);
        } else if (token == "param") {
            EXPECT_EQ(arg.vt, VT_I4);
            EXPECT_EQ(arg.number, ParamOf(c.slot));
        } else if (token[0] == 'i') {
            EXPECT_EQ(arg.vt, VT_I4);
            EXPECT_EQ(arg.number, fire_.ints[token[1] - '0']);
        } else if (token == "url") {
            EXPECT_EQ(arg.vt, VT_BSTR);
            EXPECT_EQ(arg.text, kUrl);
        } else if (token == "t1" || token == "t2" || token == "t3") {
            EXPECT_EQ(arg.vt, VT_BSTR);
            EXPECT_EQ(arg.text, token == "t1" ? kText1 : token == "t2" ? kText2 : kText3);
        } else if (token == "ptext") {
            EXPECT_EQ(arg.vt, VT_BSTR);
            EXPECT_EQ(arg.text, kPlatformText);
        } else if (token == "job") {
            EXPECT_EQ(arg.vt, VT_I4);
            EXPECT_EQ(arg.number, fire_.jobUsed);
            EXPECT_NE(arg.number, 0);
        } else if (token == "buf") {
            EXPECT_EQ(arg.vt, VT_I4);
            EXPECT_EQ(static_cast<std::uintptr_t>(arg.number), reinterpret_cast<std::uintptr_t>(buffer_));
        } else if (token == "len") {
            EXPECT_EQ(arg.vt, VT_I4);
            EXPECT_EQ(arg.number, 10);
        } else if (token == "rec") {
            EXPECT_EQ(arg.vt, VT_RECORD | VT_BYREF);
            const std::size_t size = RecordSizeOf(c.slot);
            ASSERT_EQ(arg.record.size(), size) << "the record's size in the receiver's layout";
            EXPECT_EQ(std::memcmp(arg.record.data(), record_, size), 0) << "the engine's bytes, copied";
            EXPECT_EQ(record_[0], 0x10) << "a handler's change to the record does not reach the engine";
        } else if (token == "prompt") {
            EXPECT_EQ(arg.vt, VT_BSTR | VT_BYREF);
            EXPECT_EQ(arg.text, L"") << "the result text starts empty";
        } else if (token == "es") {
            EXPECT_EQ(arg.vt, VT_I4);
            EXPECT_EQ(eventView_, view) << "the execution state belongs to the calling view";
        } else {
            ADD_FAILURE() << "unknown token " << token;
        }
    }

    _MiniblinkCallBack* receiver_ = nullptr;
    RecordingSink sink_{DIID___MiniblinkCallBack};
    std::unique_ptr<Advise> advise_;
    int view_ = 0;
    BSTR platformText_ = nullptr;
    std::uint8_t record_[32];
    char buffer_[10];
    StandinFireArgs fire_{};
    void* direct_ = nullptr;
    int eventView_ = 0;
};

// Inside each event: what a host's handler does (answers the prompt, scribbles on records).
HRESULT ActLikeAHost(DISPID, DISPPARAMS* params, int* eventView) {
    for (UINT i = 0; i < params->cArgs; ++i) {
        VARIANTARG& value = params->rgvarg[i];
        if (value.vt == (VT_BSTR | VT_BYREF)) {
            SysFreeString(*value.pbstrVal);
            *value.pbstrVal = SysAllocString(kPromptAnswer);
        }
        if (value.vt == (VT_RECORD | VT_BYREF)) static_cast<std::uint8_t*>(value.pvRecord)[0] = 0xEE;
    }
    // The execution-state kinds: the first parameter (last in rgvarg) is es.
    if (params->cArgs >= 1 && params->cArgs <= 2 && params->rgvarg[params->cArgs - 1].vt == VT_I4)
        *eventView = jsGetWebView(params->rgvarg[params->cArgs - 1].lVal);
    return S_OK;
}

}  // namespace

TEST_F(ReceiverFixture, EveryKindRaisesItsEventWithItsParametersInEngineOrder) {
    sink_.onEvent = [this](DISPID id, DISPPARAMS* params) { return ActLikeAHost(id, params, &eventView_); };
    for (const KindCase& c : kCases) Wire(c, view_);
    for (const KindCase& c : kCases) {
        const ev::CallbackKind& kind = ev::kCallbackKinds[static_cast<std::size_t>(c.slot)];
        SCOPED_TRACE(testing::Message() << "slot " << c.slot);
        sink_.events.clear();
        eventView_ = 0;
        const std::uint64_t result = Fire(c, view_);
        ASSERT_NE(result, ~0ull) << "the engine found no callback to fire";
        ASSERT_EQ(sink_.events.size(), 1u);
        EXPECT_EQ(sink_.events[0].id, ev::EventIdOf(c.slot));
        ASSERT_EQ(sink_.events[0].args.size(), c.expected.size());
        ASSERT_EQ(static_cast<int>(c.expected.size()), kind.argCount);
        for (std::size_t i = 0; i < c.expected.size(); ++i) Check(c, i, sink_.events[0].args[i], view_);
        if (kind.result == ev::Result::None) {
            EXPECT_EQ(result, 0u) << "kinds without a result hand back 0";
        }
        if (c.slot == 13) {
            EXPECT_EQ(callbacks_test::EngineString(fire_.promptResult), kPromptAnswer)
                << "the prompt's text is written back into the engine's result object";
        }
    }
}

TEST_F(ReceiverFixture, TheEngineGetsEachReturnValueAndItStaysUntilTheHostChangesIt) {
    for (const KindCase& c : kCases) Wire(c, view_);
    for (const KindCase& c : kCases) {
        const ev::CallbackKind& kind = ev::kCallbackKinds[static_cast<std::size_t>(c.slot)];
        if (kind.result == ev::Result::None) continue;
        SCOPED_TRACE(testing::Message() << "slot " << c.slot);
        switch (kind.result) {
            case ev::Result::Bool:
                EXPECT_EQ(Fire(c, view_), 0u) << "never set: false";
                Put(receiver_, kind.returnId, Bool(true));
                EXPECT_EQ(Fire(c, view_), 1u) << "true reaches the engine as the byte 1";
                EXPECT_EQ(Fire(c, view_), 1u) << "and stays for later callbacks";
                Put(receiver_, kind.returnId, Bool(false));
                EXPECT_EQ(Fire(c, view_), 0u);
                break;
            case ev::Result::ViewHandle:
                EXPECT_EQ(Fire(c, view_), 0u) << "never set: 0";
                Put(receiver_, kind.returnId, Long(view_));
                EXPECT_EQ(Fire(c, view_), static_cast<std::uint64_t>(view_));
                EXPECT_EQ(Fire(c, view_), static_cast<std::uint64_t>(view_));
                Put(receiver_, kind.returnId, Long(0));
                break;
            case ev::Result::ScriptValue:
                EXPECT_EQ(Fire(c, view_), 0u);
                Put(receiver_, kind.returnId, Currency(static_cast<std::int64_t>(0x8877665544332211ull)));
                EXPECT_EQ(Fire(c, view_), 0x8877665544332211ull) << "the 64-bit script value arrives whole";
                EXPECT_EQ(Fire(c, view_), 0x8877665544332211ull);
                Put(receiver_, kind.returnId, Currency(0));
                break;
            case ev::Result::None:
                break;
        }
        VARIANT kept = Get(receiver_, kind.returnId);
        EXPECT_NE(kept.vt, VT_EMPTY);
    }
}

TEST_F(ReceiverFixture, AHandlerThatSetsTheResultInsideTheEventIsHeard) {
    const KindCase& create = kCases[11];
    Wire(create, view_);
    sink_.onEvent = [this](DISPID, DISPPARAMS* params) {
        // The client's new-view handler: hand the engine the view it was given.
        VARIANT webView = params->rgvarg[params->cArgs - 1];
        Put(receiver_, 0x40030007, Long(webView.lVal));
        return S_OK;
    };
    EXPECT_EQ(Fire(create, view_), static_cast<std::uint64_t>(view_));
}

// Reads address 4, which is never mapped. The address goes through a volatile pointer: the compiler can
// neither prove the read invalid at build time nor leave it out.
HRESULT Fault() {
    volatile long* volatile unmapped = reinterpret_cast<volatile long*>(4);
    return static_cast<HRESULT>(*unmapped);
}

TEST_F(ReceiverFixture, AFailingHandlerGivesTheEngineTheNeutralResult) {
    for (const KindCase& c : kCases) Wire(c, view_);
    for (int mode = 0; mode < 2; ++mode) {  // 0: the sink reports an error, 1: the sink faults
        sink_.onEvent = [mode](DISPID, DISPPARAMS*) -> HRESULT {
            if (mode == 1) return Fault();
            return DISP_E_EXCEPTION;
        };
        for (const KindCase& c : kCases) {
            const ev::CallbackKind& kind = ev::kCallbackKinds[static_cast<std::size_t>(c.slot)];
            if (kind.result == ev::Result::None) continue;
            SCOPED_TRACE(testing::Message() << "slot " << c.slot << " mode " << mode);
            // A sink that faults is let go after its event: advise it again for each kind.
            if (mode == 1) advise_ = std::make_unique<Advise>(receiver_, DIID___MiniblinkCallBack, &sink_);
            if (kind.result == ev::Result::Bool) Put(receiver_, kind.returnId, Bool(true));
            if (kind.result == ev::Result::ViewHandle) Put(receiver_, kind.returnId, Long(view_));
            if (kind.result == ev::Result::ScriptValue) Put(receiver_, kind.returnId, Currency(-1));
            EXPECT_EQ(Fire(c, view_), 0u);
            if (c.slot == 13) {
                EXPECT_EQ(callbacks_test::EngineString(fire_.promptResult), L"")
                    << "a failed prompt handler leaves the result object alone";
            }
        }
    }
    sink_.onEvent = nullptr;
    Put(receiver_, 0x40030009, Bool(true));
    EXPECT_EQ(Fire(kCases[6], view_), 1u) << "the receiver works on after failures";
}

TEST_F(ReceiverFixture, ASinkThatFaultsOrWhoseObjectIsGoneIsReleasedAndCalledNoMore) {
    const KindCase& begin = kCases[6];
    Wire(begin, view_);
    Put(receiver_, 0x40030009, Bool(true));
    for (HRESULT answer : {RPC_E_DISCONNECTED, CO_E_OBJNOTCONNECTED, S_OK /* faults */}) {
        SCOPED_TRACE(testing::Message() << std::hex << answer);
        advise_ = std::make_unique<Advise>(receiver_, DIID___MiniblinkCallBack, &sink_);
        ASSERT_EQ(sink_.References(), 2);
        sink_.events.clear();
        sink_.onEvent = [answer](DISPID, DISPPARAMS*) { return answer == S_OK ? Fault() : answer; };
        EXPECT_EQ(Fire(begin, view_), 0u) << "the failed event gives the neutral result";
        EXPECT_EQ(sink_.References(), 1) << "the receiver holds the sink no more";
        EXPECT_EQ(Fire(begin, view_), 1u) << "with no sink left the kept result is handed on";
        EXPECT_EQ(sink_.events.size(), 1u) << "the sink is not called again";
    }
    // A handler that reports an error of its own is still there for the next event.
    advise_ = std::make_unique<Advise>(receiver_, DIID___MiniblinkCallBack, &sink_);
    sink_.events.clear();
    sink_.onEvent = [](DISPID, DISPPARAMS*) { return DISP_E_EXCEPTION; };
    Fire(begin, view_);
    Fire(begin, view_);
    EXPECT_EQ(sink_.events.size(), 2u);
    EXPECT_EQ(sink_.References(), 2);
}

TEST_F(ReceiverFixture, AnEventWhoseSinkFaultsLeavesNoneOfItsRecordDescriptionsHeld) {
    const KindCase& paint = kCases[16];  // carries a wkeRect record by reference
    Wire(paint, view_);
    std::vector<IRecordInfo*> seen;  // one reference of ours per event
    sink_.onEvent = [&seen](DISPID, DISPPARAMS* params) {
        for (UINT i = 0; i < params->cArgs; ++i)
            if (params->rgvarg[i].vt == (VT_RECORD | VT_BYREF)) {
                params->rgvarg[i].pRecInfo->AddRef();
                seen.push_back(params->rgvarg[i].pRecInfo);
            }
        return Fault();
    };
    const int kEvents = 5;
    for (int i = 0; i < kEvents; ++i) {
        advise_ = std::make_unique<Advise>(receiver_, DIID___MiniblinkCallBack, &sink_);
        Fire(paint, view_);
    }
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(kEvents));
    // Let our references go; what remains is what the library keeps: one description per record kind at
    // most, not one per event.
    std::map<IRecordInfo*, int> ours;
    for (IRecordInfo* info : seen) ++ours[info];
    EXPECT_EQ(ours.size(), 1u) << "one description of the record serves every event";
    ULONG kept = 0;
    for (auto& [info, count] : ours) {
        for (int i = 1; i < count; ++i) info->Release();
        kept += info->Release();
    }
    EXPECT_LE(kept, 1u);
}

TEST_F(ReceiverFixture, AHandlerThatLeavesThePromptEmptyWritesEmptyText) {
    Wire(kCases[13], view_);
    Put(receiver_, 0x40030005, Bool(true));
    EXPECT_EQ(Fire(kCases[13], view_), 1u);
    EXPECT_EQ(callbacks_test::EngineString(fire_.promptResult), L"");
}

TEST_F(ReceiverFixture, OneStubServesTwoViewsAndEachEventCarriesItsView) {
    const int other = callbacks_test::NewView();
    Wire(kCases[6], view_);
    Wire(kCases[6], other);
    Fire(kCases[6], other);
    Fire(kCases[6], view_);
    ASSERT_EQ(sink_.events.size(), 2u);
    EXPECT_EQ(sink_.events[0].args[0].number, other);
    EXPECT_EQ(sink_.events[1].args[0].number, view_);
}

TEST_F(ReceiverFixture, NestedCallbacksEachGetTheirOwnEventAndResult) {
    const KindCase& native = kCases[21];
    Wire(native, view_);
    int depth = 0;
    unsigned long long inner = 0;
    sink_.onEvent = [&](DISPID, DISPPARAMS*) {
        if (depth++ == 0) {
            Put(receiver_, 0x40030003, Currency(111));
            const wchar_t* args[] = {L"inner"};
            standinCallBoundStrings("native21", view_, args, 1, &inner);  // the page calls back meanwhile
            Put(receiver_, 0x40030003, Currency(222));
        } else {
            Put(receiver_, 0x40030003, Currency(333));
        }
        return S_OK;
    };
    EXPECT_EQ(Fire(native, view_), 222u);
    EXPECT_EQ(inner, 333u);
    EXPECT_EQ(sink_.events.size(), 2u);
}

TEST_F(ReceiverFixture, AReceiverReleasedInsideAnEventFinishesItAndLaterCallsGetZero) {
    const KindCase& begin = kCases[6];
    Wire(begin, view_);
    Put(receiver_, 0x40030009, Bool(true));
    sink_.onEvent = [this](DISPID, DISPPARAMS*) {
        advise_.reset();
        receiver_->Release();  // the host's last reference
        receiver_ = nullptr;
        return S_OK;
    };
    EXPECT_EQ(Fire(begin, view_), 1u) << "the event ran to its end on a live receiver";
    sink_.onEvent = nullptr;
    EXPECT_EQ(Fire(begin, view_), 0u) << "a callback after the receiver is gone gets the neutral result";
    EXPECT_EQ(sink_.events.size(), 1u);
    EXPECT_EQ(sink_.References(), 1) << "the receiver let go of the sink";
}
