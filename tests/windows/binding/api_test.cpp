// MiniblinkAPI seen from the engine's side: every value convention checked in the stand-in engine's call
// log (the raw bytes each export received), results set through the stand-in, callbacks fired by it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine-standin/standin_control.h"
#include "webview/api/engine_table.h"
#include "webview/api/miniblink_api.h"

namespace {

// One logged engine call.
struct Call {
    int entry = -1;
    int ArgCount() const { return standinLogArgCount(entry); }
    char Kind(int arg) const { return static_cast<char>(standinLogArgKind(entry, arg)); }
    std::vector<unsigned char> Bytes(int arg) const {
        const int n = standinLogArgBytes(entry, arg, nullptr, 0);
        std::vector<unsigned char> bytes(n > 0 ? n : 0);
        if (n > 0) standinLogArgBytes(entry, arg, bytes.data(), n);
        return bytes;
    }
    unsigned long long Value(int arg) const { return standinLogArgValue(entry, arg); }
    bool IsNull(int arg) const { return standinLogArgIsNull(entry, arg) == 1; }
};

// The last call of an export since the log was cleared.
Call Last(const char* name) {
    Call c;
    for (int at = standinLogFind(name, 0); at >= 0; at = standinLogFind(name, at + 1)) c.entry = at;
    return c;
}

std::vector<unsigned char> Utf16Bytes(const wchar_t* text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    return std::vector<unsigned char>(p, p + wcslen(text) * 2);
}

std::vector<unsigned char> CodePageBytes(const wchar_t* text) {
    char buffer[256] = {};
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr) - 1;
    return std::vector<unsigned char>(buffer, buffer + (n > 0 ? n : 0));
}

std::vector<unsigned char> Ascii(const char* text) { return std::vector<unsigned char>(text, text + strlen(text)); }

class Bstr {
public:
    explicit Bstr(const wchar_t* text) : s_(SysAllocString(text)) {}
    Bstr() = default;
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(s_); }
    BSTR get() const { return s_; }
    BSTR* put() {
        SysFreeString(s_);
        s_ = nullptr;
        return &s_;
    }
    std::wstring text() const { return s_ ? std::wstring(s_, SysStringLen(s_)) : std::wstring(); }

private:
    BSTR s_ = nullptr;
};

CY Cy(std::int64_t v) {
    CY c;
    c.int64 = v;
    return c;
}

class MiniblinkApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(velview::api::CreateMiniblinkAPI(&api_), S_OK);
        long view = 0;
        ASSERT_EQ(api_->wkeCreateWebView(&view), S_OK);
        ASSERT_NE(view, 0) << "the stand-in engine makes window-less views";
        view_ = view;
        standinClearResults();
        standinLogClear();
    }
    void TearDown() override {
        standinClearResults();
        if (api_) api_->Release();
    }
    _MiniblinkAPI* api_ = nullptr;
    long view_ = 0;
};

TEST_F(MiniblinkApiTest, BooleanArgumentsReachTheEngineAsOneByteOneOrZero) {
    struct {
        VARIANT_BOOL value;
        unsigned char byte;
    } cases[] = {{VARIANT_TRUE, 1}, {1, 1}, {5, 1}, {0x100, 1}, {VARIANT_FALSE, 0}};
    for (const auto& c : cases) {
        standinLogClear();
        ASSERT_EQ(api_->wkeSetDirty(view_, c.value), S_OK);
        const Call call = Last("wkeSetDirty");
        ASSERT_GE(call.entry, 0) << "the engine was not called";
        ASSERT_EQ(call.ArgCount(), 2);
        EXPECT_EQ(call.Value(0), static_cast<unsigned long long>(view_));
        EXPECT_EQ(call.Kind(1), 'b');
        EXPECT_EQ(call.Bytes(1), std::vector<unsigned char>{c.byte}) << c.value;
    }
    // A boolean among other kinds keeps its place: wkeNetSetHTTPHeaderField(job, key, value, response).
    Bstr key(L"X-K"), value(L"v\u00E9");
    ASSERT_EQ(api_->wkeNetSetHTTPHeaderField(17, key.get(), value.get(), -1), S_OK);
    const Call header = Last("wkeNetSetHTTPHeaderField");
    ASSERT_EQ(header.ArgCount(), 4);
    EXPECT_EQ(header.Bytes(1), Utf16Bytes(L"X-K"));
    EXPECT_EQ(header.Bytes(2), Utf16Bytes(L"v\u00E9"));
    EXPECT_EQ(header.Bytes(3), std::vector<unsigned char>{1});
}

TEST_F(MiniblinkApiTest, BooleanResultsAreTrueOnlyWhenTheEngineByteIs1) {
    struct {
        unsigned long long engine;
        VARIANT_BOOL result;
    } cases[] = {{1, VARIANT_TRUE}, {0, VARIANT_FALSE}, {2, VARIANT_FALSE}, {0xFF, VARIANT_FALSE},
                 {0x101, VARIANT_TRUE}, {0xFFFFFF01, VARIANT_TRUE}, {0x100, VARIANT_FALSE}};
    for (const auto& c : cases) {
        ASSERT_EQ(standinSetResult("wkeIsDocumentReady", c.engine, STANDIN_RESULT_ONCE), 1);
        VARIANT_BOOL ready = 123;
        ASSERT_EQ(api_->wkeIsDocumentReady(view_, &ready), S_OK);
        EXPECT_EQ(ready, c.result) << "engine returned " << c.engine;
    }
}

TEST_F(MiniblinkApiTest, ScriptValuesTravelAllSixtyFourBits) {
    const std::int64_t value = static_cast<std::int64_t>(0x8877665544332211ull);
    long number = -1;
    ASSERT_EQ(api_->jsToInt(5, Cy(value), &number), S_OK);
    Call call = Last("jsToInt");
    ASSERT_EQ(call.ArgCount(), 2);
    EXPECT_EQ(call.Kind(1), 'v');
    EXPECT_EQ(call.Value(1), 0x8877665544332211ull);
    // jsSetAt(es, object, index, value): the object and the value are 64 bits, the index 32.
    ASSERT_EQ(api_->jsSetAt(5, Cy(value), 3, Cy(-2)), S_OK);
    call = Last("jsSetAt");
    ASSERT_EQ(call.ArgCount(), 4);
    EXPECT_EQ(call.Bytes(1).size(), 8u);
    EXPECT_EQ(call.Value(1), 0x8877665544332211ull);
    EXPECT_EQ(call.Value(2), 3u);
    EXPECT_EQ(call.Value(3), 0xFFFFFFFFFFFFFFFEull);
    // jsGet(es, object, prop) takes its object as 32 bits.
    CY got{};
    Bstr prop(L"length");
    ASSERT_EQ(api_->jsGet(5, 0x1234, prop.get(), &got), S_OK);
    call = Last("jsGet");
    EXPECT_EQ(call.Bytes(1).size(), 4u);
    EXPECT_EQ(call.Bytes(2), Ascii("length"));
    // A script value result comes back bit for bit.
    ASSERT_EQ(standinSetResult("jsArg", 0xF00DF00D12345678ull, STANDIN_RESULT_ONCE), 1);
    CY arg{};
    ASSERT_EQ(api_->jsArg(5, 0, &arg), S_OK);
    EXPECT_EQ(static_cast<unsigned long long>(arg.int64), 0xF00DF00D12345678ull);
}

TEST_F(MiniblinkApiTest, TextGoesAsUtf16ToWFunctionsAndInTheCodePageToThePlainOnes) {
    const wchar_t* url = L"http://\u4F8B\u5B50.test/caf\u00E9?q=\u4E2D";
    Bstr text(url);
    ASSERT_EQ(api_->wkeLoadW(view_, text.get()), S_OK);
    Call call = Last("wkeLoadW");
    ASSERT_EQ(call.ArgCount(), 2);
    EXPECT_EQ(call.Kind(1), 'w');
    EXPECT_EQ(call.Bytes(1), Utf16Bytes(url));
    ASSERT_EQ(api_->wkeLoadURL(view_, text.get()), S_OK);
    call = Last("wkeLoadURL");
    EXPECT_EQ(call.Kind(1), 'a');
    EXPECT_EQ(call.Bytes(1), CodePageBytes(url));
    EXPECT_EQ(text.text(), url) << "the caller's text must be left as it was";
    // A null text is a null pointer.
    ASSERT_EQ(api_->wkeLoadW(view_, nullptr), S_OK);
    char line[256] = {};
    standinLogLine(Last("wkeLoadW").entry, line, sizeof line);
    EXPECT_TRUE(Last("wkeLoadW").IsNull(1)) << line;
}

TEST_F(MiniblinkApiTest, TextResultsAreDecodedAsEachMethodSays) {
    static const char utf8[] = "h\xC3\xA9llo \xE4\xB8\xAD";
    static const wchar_t utf16[] = L"t\u00EEtle \u6587";
    static const char mime[] = "text/html";
    struct {
        const char* exportName;
        const void* pointer;
        std::wstring expected;
        HRESULT (*call)(_MiniblinkAPI*, long, BSTR*);
    } cases[] = {
        {"wkeGetURL", utf8, L"h\u00E9llo \u4E2D", [](_MiniblinkAPI* a, long v, BSTR* r) { return a->wkeGetURL(v, r); }},
        {"wkeGetTitleW", utf16, utf16, [](_MiniblinkAPI* a, long v, BSTR* r) { return a->wkeGetTitleW(v, r); }},
        {"wkeNetGetMIMEType", mime, L"text/html",
         [](_MiniblinkAPI* a, long, BSTR* r) { return a->wkeNetGetMIMEType(9, 0, r); }},
        {"wkeGetURL", nullptr, L"", [](_MiniblinkAPI* a, long v, BSTR* r) { return a->wkeGetURL(v, r); }},
        {"wkeGetTitleW", nullptr, L"", [](_MiniblinkAPI* a, long v, BSTR* r) { return a->wkeGetTitleW(v, r); }},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(standinSetResult(c.exportName, reinterpret_cast<std::uintptr_t>(c.pointer), STANDIN_RESULT_ONCE), 1);
        Bstr result;
        ASSERT_EQ(c.call(api_, view_, result.put()), S_OK);
        EXPECT_EQ(result.text(), c.expected) << c.exportName;
    }
}

TEST_F(MiniblinkApiTest, EngineStringsRoundTripThroughTheUtf16Pair) {
    Bstr text(L"\u4E2D\u6587 ok");
    long string = 0;
    ASSERT_EQ(api_->wkeCreateStringW(text.get(), 5, &string), S_OK);
    ASSERT_NE(string, 0);
    Bstr read;
    ASSERT_EQ(api_->wkeGetStringW(string, read.put()), S_OK);
    EXPECT_EQ(read.text(), L"\u4E2D\u6587 ok");
    Bstr replacement(L"\u00E9t\u00E9");
    ASSERT_EQ(api_->wkeSetStringW(string, replacement.get(), 3), S_OK);
    ASSERT_EQ(api_->wkeGetStringW(string, read.put()), S_OK);
    EXPECT_EQ(read.text(), L"\u00E9t\u00E9");
    ASSERT_EQ(api_->wkeGetString(string, read.put()), S_OK);
    EXPECT_EQ(read.text(), L"\u00E9t\u00E9") << "the plain reader gives UTF-8, decoded here";
    ASSERT_EQ(api_->wkeDeleteString(string), S_OK);
}

TEST_F(MiniblinkApiTest, DoublesPassAndReturnAllEightBytes) {
    ASSERT_EQ(api_->wkeSetZoomFactor(view_, 1.25), S_OK);
    const Call call = Last("wkeSetZoomFactor");
    ASSERT_EQ(call.ArgCount(), 2);
    double sent = 0;
    const auto bytes = call.Bytes(1);
    ASSERT_EQ(bytes.size(), 8u);
    std::memcpy(&sent, bytes.data(), 8);
    EXPECT_EQ(sent, 1.25);
    const double engine = 2.5;
    unsigned long long bits = 0;
    std::memcpy(&bits, &engine, 8);
    ASSERT_EQ(standinSetResult("wkeGetZoomFactor", bits, STANDIN_RESULT_ONCE), 1);
    double zoom = 0;
    ASSERT_EQ(api_->wkeGetZoomFactor(view_, &zoom), S_OK);
    EXPECT_EQ(zoom, 2.5);
}

// Callbacks: the engine gets a cdecl adapter that reaches the stdcall routine, one per routine: a host that
// registers the same routine again (a handler per page) makes no new adapter each time.
long g_readyView = 0, g_readyParam = 0, g_readyCalls = 0;
void __stdcall OnDocumentReady(long view, long param) {
    g_readyView = view;
    g_readyParam = param;
    ++g_readyCalls;
}
void __stdcall OnDocumentReadyElsewhere(long, long) {}

TEST_F(MiniblinkApiTest, CallbacksBecomeAdaptersThatTheEngineCanCall) {
    const long routine = static_cast<long>(reinterpret_cast<std::uintptr_t>(&OnDocumentReady));
    const long other = static_cast<long>(reinterpret_cast<std::uintptr_t>(&OnDocumentReadyElsewhere));
    ASSERT_EQ(api_->wkeOnDocumentReady(view_, other, 0x44), S_OK);
    const Call elsewhere = Last("wkeOnDocumentReady");
    ASSERT_EQ(api_->wkeOnDocumentReady(view_, routine, 0x55), S_OK);
    const Call first = Last("wkeOnDocumentReady");
    ASSERT_EQ(api_->wkeOnDocumentReady(view_, routine, 0x55), S_OK);
    const Call second = Last("wkeOnDocumentReady");
    ASSERT_NE(first.entry, second.entry);
    EXPECT_EQ(first.Kind(1), 'c');
    EXPECT_NE(first.Value(1), 0u);
    EXPECT_EQ(first.Value(1), second.Value(1)) << "one routine registered twice, one adapter";
    EXPECT_NE(first.Value(1), elsewhere.Value(1)) << "another routine, another adapter";
    EXPECT_NE(first.Value(1), static_cast<unsigned long long>(routine)) << "the engine must get an adapter";
    EXPECT_EQ(second.Value(2), 0x55u);
    unsigned int result = 0;
    ASSERT_EQ(standinFire(view_, "wkeOnDocumentReady", nullptr, &result), 1);
    EXPECT_EQ(g_readyCalls, 1);
    EXPECT_EQ(g_readyView, view_);
    EXPECT_EQ(g_readyParam, 0x55);
    // A null routine makes no adapter: the engine gets 0.
    ASSERT_EQ(api_->wkeOnDocumentReady(view_, 0, 0x66), S_OK);
    EXPECT_EQ(Last("wkeOnDocumentReady").Value(1), 0u);
}

// A callback that calls the engine again while the engine is calling it.
_MiniblinkAPI* g_api = nullptr;
std::wstring g_title;
void __stdcall OnTitleChanged(long, long, long title) {
    Bstr text;
    g_api->wkeGetStringW(title, text.put());
    g_title = text.text();
}

TEST_F(MiniblinkApiTest, ACallbackMayCallTheEngineWhileItRuns) {
    g_api = api_;
    ASSERT_EQ(api_->wkeOnTitleChanged(view_, static_cast<long>(reinterpret_cast<std::uintptr_t>(&OnTitleChanged)), 0),
              S_OK);
    StandinFireArgs args{};
    args.text1 = L"\u6807\u9898 title";
    ASSERT_EQ(standinFire(view_, "wkeOnTitleChanged", &args, nullptr), 1);
    EXPECT_EQ(g_title, L"\u6807\u9898 title");
}

// Page-callable functions: jsBindFunction through the fastcall adapter, wkeJsBindFunction through a cdecl
// adapter of two arguments; both return a 64-bit script value that must reach the page whole.
std::vector<std::wstring> g_pageArgs;
long g_boundParam = 0;
std::int64_t g_madeValue = 0;

std::uint64_t ReadArgumentsAndAnswer(long es) {
    long count = 0;
    g_api->jsArgCount(es, &count);
    g_pageArgs.clear();
    for (long i = 0; i < count; ++i) {
        CY value{};
        g_api->jsArg(es, i, &value);
        Bstr text;
        g_api->jsToTempStringW(es, value, text.put());
        g_pageArgs.push_back(text.text());
    }
    CY made{};
    g_api->jsInt(static_cast<long>(count) * 10 + 1, &made);
    g_madeValue = made.int64;
    return static_cast<std::uint64_t>(made.int64);
}
std::uint64_t __stdcall FastcallBound(long es) { return ReadArgumentsAndAnswer(es); }
std::uint64_t __stdcall CdeclBound(long es, long param) {
    g_boundParam = param;
    ReadArgumentsAndAnswer(es);
    return 0x0123456789ABCDEFull;  // both halves must arrive
}

TEST_F(MiniblinkApiTest, BoundFunctionsAreCalledByThePageWithTheirArguments) {
    g_api = api_;
    Bstr name(L"nativeCall");
    ASSERT_EQ(api_->jsBindFunction(name.get(), static_cast<long>(reinterpret_cast<std::uintptr_t>(&FastcallBound)), 2),
              S_OK);
    const Call bind = Last("jsBindFunction");
    ASSERT_EQ(bind.ArgCount(), 3);
    EXPECT_EQ(bind.Bytes(0), Ascii("nativeCall"));
    EXPECT_NE(bind.Value(1), static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&FastcallBound)));
    EXPECT_EQ(bind.Value(2), 2u);
    const wchar_t* args[] = {L"btn", L"\u6700\u5927\u5316"};
    unsigned long long result = 0;
    ASSERT_EQ(standinCallBoundStrings("nativeCall", view_, args, 2, &result), 1);
    EXPECT_EQ(g_pageArgs, (std::vector<std::wstring>{L"btn", L"\u6700\u5927\u5316"}));
    EXPECT_EQ(result, static_cast<unsigned long long>(g_madeValue));

    Bstr onJsCall(L"onJsCall");
    ASSERT_EQ(api_->wkeJsBindFunction(onJsCall.get(), static_cast<long>(reinterpret_cast<std::uintptr_t>(&CdeclBound)),
                                      0x77, 2),
              S_OK);
    const wchar_t* command[] = {L"btn", L"maximize"};
    ASSERT_EQ(standinCallBoundStrings("onJsCall", view_, command, 2, &result), 1);
    EXPECT_EQ(g_boundParam, 0x77);
    EXPECT_EQ(g_pageArgs, (std::vector<std::wstring>{L"btn", L"maximize"}));
    EXPECT_EQ(result, 0x0123456789ABCDEFull);
}

TEST_F(MiniblinkApiTest, DebugConfigParameterIsPercentEncodedUtf8) {
    struct {
        const wchar_t* param;
        const char* sent;
    } cases[] = {{L"a b", "a b"},
                 {L"\u4E2D", "%E4%B8%AD"},
                 {L"\u00E9", "%C3%A9"},
                 {L"\u0800", "%E0%A0%80"},
                 {L"100% \u00E9", "100% %C3%A9"},
                 {L"", ""}};
    Bstr name(L"setting");
    for (const auto& c : cases) {
        Bstr param(c.param);
        ASSERT_EQ(api_->wkeSetDebugConfig(view_, name.get(), param.get()), S_OK);
        const Call call = Last("wkeSetDebugConfig");
        ASSERT_EQ(call.ArgCount(), 3);
        EXPECT_EQ(call.Bytes(1), Ascii("setting"));
        EXPECT_EQ(call.Bytes(2), Ascii(c.sent)) << c.sent;
        EXPECT_EQ(param.text(), c.param);
    }
}

TEST_F(MiniblinkApiTest, TheBridgeMakesNoEngineCallForAnEmptyExportName) {
    velview::cUniversalDLLCalls calls;
    velview::Variant view = velview::Variant::Int32(view_);
    const int before = standinLogCount();
    EXPECT_TRUE(calls.CallFunction_DLL(L"node.dll", L"", 0, VT_I4, CC_CDECL, view.get(), 1).empty());
    EXPECT_EQ(standinLogCount(), before);
    // The same bridge with the name reaches the engine.
    EXPECT_FALSE(calls.CallFunction_DLL(L"node.dll", L"wkeGetWidth", 0, VT_I4, CC_CDECL, view.get(), 1).empty());
    EXPECT_EQ(standinLogCount(), before + 1);
    EXPECT_EQ(Last("wkeGetWidth").Value(0), static_cast<unsigned long long>(view_));
}

TEST_F(MiniblinkApiTest, SetWkeDllPathMakesNoEngineCall) {
    Bstr path(L"C:\\engine\\node.dll");
    const int before = standinLogCount();
    ASSERT_EQ(api_->wkeSetWkeDllPath(path.get()), S_OK);
    EXPECT_EQ(standinLogCount(), before);
    EXPECT_EQ(standinLogFind("wkeSetWkeDllPath", 0), -1);
}

TEST_F(MiniblinkApiTest, WebWindowsAreRealChildWindowsMovedWithArgumentsInOrder) {
    HWND parent = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    long window = 0;
    ASSERT_EQ(api_->wkeCreateWebWindow(2, static_cast<long>(reinterpret_cast<std::uintptr_t>(parent)), 0, 0, 113,
                                       100, &window),
              S_OK);
    ASSERT_NE(window, 0);
    long handle = 0;
    ASSERT_EQ(api_->wkeGetWindowHandle(window, &handle), S_OK);
    HWND child = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(handle));
    EXPECT_TRUE(IsWindow(child));
    EXPECT_EQ(GetParent(child), parent);
    ASSERT_EQ(api_->wkeMoveWindow(window, 1, 2, 30, 40), S_OK);
    const Call move = Last("wkeMoveWindow");
    ASSERT_EQ(move.ArgCount(), 5);
    const unsigned long long expected[] = {static_cast<unsigned long long>(window), 1, 2, 30, 40};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(move.Value(i), expected[i]) << "argument " << i;
    ASSERT_EQ(api_->wkeShowWindow(window, VARIANT_TRUE), S_OK);
    EXPECT_EQ(Last("wkeShowWindow").Bytes(1), std::vector<unsigned char>{1});
    api_->wkeDestroyWebWindow(window);
    DestroyWindow(parent);
}

TEST(EngineTable, EveryMethodButSetWkeDllPathHasAnExportAnd124ExportsHaveNoMethod) {
    const auto& methods = velview::api::Methods();
    const auto& exports = velview::api::ExportNames();
    ASSERT_EQ(methods.size(), 210u);
    ASSERT_EQ(exports.size(), 333u);
    int withoutExport = 0;
    std::vector<bool> used(exports.size());
    for (const auto& m : methods) {
        const int index = velview::api::ExportIndexOf(m);
        if (index < 0) {
            ++withoutExport;
            EXPECT_STREQ(m.name, "wkeSetWkeDllPath");
        } else {
            used[index] = true;
        }
    }
    EXPECT_EQ(withoutExport, 1);
    for (const auto& m : methods) EXPECT_LE(m.params.size(), velview::api::kMaxParams) << m.name;
    int namesOnly = 0;
    for (bool u : used) namesOnly += u ? 0 : 1;
    EXPECT_EQ(namesOnly, 124);
    for (std::size_t i = 1; i < exports.size(); ++i)
        EXPECT_LT(_stricmp(exports[i - 1], exports[i]), 0) << exports[i];
}

TEST(EngineTable, CallbackAdaptersHaveTheArgumentCountsTheEngineCallsWith) {
    struct {
        const char* method;
        int arguments;
    } cases[] = {{"wkeOnPaintUpdated", 7}, {"wkeOnConsole", 7}, {"wkeOnDocumentReady", 2}, {"wkeJsBindFunction", 2},
                 {"wkeOnLoadUrlEnd", 6}, {"wkeOnWindowDestroy", 2}, {"wkeNetOnResponse", 4}, {"jsBindGetter", 1}};
    for (const auto& c : cases) {
        bool found = false;
        for (const auto& m : velview::api::Methods()) {
            if (strcmp(m.name, c.method) != 0) continue;
            for (const auto& p : m.params)
                if (p.kind == velview::api::Kind::Callback) {
                    EXPECT_EQ(p.adapterArguments, c.arguments) << c.method;
                    found = true;
                }
        }
        EXPECT_TRUE(found) << c.method;
    }
}

}  // namespace
