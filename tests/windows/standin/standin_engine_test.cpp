// Engine strings, script values, bound functions and notifications, as the control library meets them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/windows/standin/standin_test_support.h"

using namespace standin_test;

TEST(StandinStrings, StringObjectsKeepTextInBothEncodings) {
    int s = CreateStringW(L"Ti\u4E2Dtle", -1);
    ASSERT_NE(s, 0);
    EXPECT_EQ(GetStringW(s), L"Ti\u4E2Dtle");
    EXPECT_EQ(GetString(s), "Ti\xE4\xB8\xADtle");  // UTF-8
    // A length counts characters; the text never runs past its terminator.
    EXPECT_EQ(GetStringW(CreateStringW(L"abcdef", 3)), L"abc");
    EXPECT_EQ(GetStringW(CreateStringW(L"abc", 12)), L"abc");
    EXPECT_EQ(GetStringW(CreateStringW(L"abc", 0)), L"");
    auto set_w = Fn<void(__cdecl*)(int, const wchar_t*, int)>("wkeSetStringW");
    auto set_a = Fn<void(__cdecl*)(int, const char*, int)>("wkeSetString");
    set_w(s, L"\u7ED3\u679C", 2);
    EXPECT_EQ(GetStringW(s), L"\u7ED3\u679C");
    set_w(s, L"xy", 4);  // a byte count for two characters hands over exactly the text
    EXPECT_EQ(GetStringW(s), L"xy");
    set_a(s, "plain", 5);
    EXPECT_EQ(GetStringW(s), L"plain");
    Fn<void(__cdecl*)(int)>("wkeDeleteString")(s);
    EXPECT_EQ(GetStringW(s), L"");  // a deleted or unknown handle reads as empty text
    EXPECT_EQ(GetString(12345), "");
    set_w(12345, L"ignored", 7);  // and ignores writes
    EXPECT_EQ(GetStringW(12345), L"");
}

TEST(StandinValues, ScriptValuesConvertAsScriptsDo) {
    auto js_int = Fn<JsValue(__cdecl*)(int)>("jsInt");
    auto js_string = Fn<JsValue(__cdecl*)(int, const char*)>("jsString");
    auto js_string_w = Fn<JsValue(__cdecl*)(int, const wchar_t*)>("jsStringW");
    auto is_number = Fn<std::uint32_t(__cdecl*)(JsValue)>("jsIsNumber");
    auto is_string = Fn<std::uint32_t(__cdecl*)(JsValue)>("jsIsString");
    auto to_double = Fn<double(__cdecl*)(int, JsValue)>("jsToDouble");
    auto to_temp = Fn<const char*(__cdecl*)(int, JsValue)>("jsToTempString");
    JsValue n = js_int(-42);
    EXPECT_NE(n >> 32, 0u) << "a script value uses both halves";
    EXPECT_EQ(JsToInt(0, n), -42);
    EXPECT_EQ(JsToTempStringW(0, n), L"-42");
    EXPECT_EQ(is_number(n) & 0xFF, 1u);
    EXPECT_EQ(is_string(n) & 0xFF, 0u);
    JsValue s = js_string_w(0, L"12\u4E2D");
    EXPECT_EQ(JsToTempStringW(0, s), L"12\u4E2D");
    EXPECT_STREQ(to_temp(0, s), "12\xE4\xB8\xAD");
    EXPECT_EQ(JsToInt(0, js_string(0, "77")), 77);
    EXPECT_EQ(to_double(0, js_string(0, "2.5")), 2.5);
    EXPECT_EQ(JsToTempStringW(0, Fn<JsValue(__cdecl*)()>("jsUndefined")()), L"undefined");
    EXPECT_EQ(JsToTempStringW(0, Fn<JsValue(__cdecl*)()>("jsTrue")()), L"true");
    // A value that lost either half is no value: it reads as empty text and 0.
    EXPECT_EQ(JsToTempStringW(0, n & 0xFFFFFFFFull), L"");
    EXPECT_EQ(JsToInt(0, n & 0xFFFFFFFF00000000ull), 0);
    EXPECT_EQ(JsToTempStringW(0, 0), L"");
}

namespace {

struct NativeCall {
    int calls = 0;
    int es = 0;
    std::uint32_t param = 0;
    int arg_count = 0;
    std::vector<std::wstring> args;
    int view = 0;
};
NativeCall g_native;

void Record(int es) {
    ++g_native.calls;
    g_native.es = es;
    g_native.arg_count = Fn<int(__cdecl*)(int)>("jsArgCount")(es);
    g_native.args.clear();
    for (int i = 0; i < g_native.arg_count; ++i) g_native.args.push_back(JsToTempStringW(es, JsArg(es, i)));
    g_native.view = Fn<int(__cdecl*)(int)>("jsGetWebView")(es);
}

JsValue __cdecl NativeFunction(int es, std::uint32_t param) {
    Record(es);
    g_native.param = param;
    return Fn<JsValue(__cdecl*)(int)>("jsInt")(4242);
}

JsValue __fastcall FastFunction(int es) {
    Record(es);
    return Fn<JsValue(__cdecl*)(int, const wchar_t*)>("jsStringW")(es, L"fast");
}

}  // namespace

TEST(StandinBindings, APageCallReachesTheBoundFunctionWithItsArgumentsAndReturnsItsValueWhole) {
    Fn<void(__cdecl*)(const char*, void*, std::uint32_t, int)>("wkeJsBindFunction")("onJsCall",
                                                                                   reinterpret_cast<void*>(NativeFunction), 0x77, 2);
    g_native = {};
    const wchar_t* args[] = {L"btn", L"\u6700\u5927\u5316"};
    unsigned long long result = 0;
    ASSERT_EQ(standinCallBoundStrings("onJsCall", 0x4321, args, 2, &result), 1);
    EXPECT_EQ(g_native.calls, 1);
    EXPECT_EQ(g_native.param, 0x77u);
    EXPECT_EQ(g_native.view, 0x4321);
    EXPECT_EQ(g_native.args, (std::vector<std::wstring>{L"btn", L"\u6700\u5927\u5316"}));
    EXPECT_EQ(JsToInt(0, result), 4242) << "both halves of the result came back";

    StandinJsArg typed[] = {{STANDIN_JS_INT, 5, nullptr}, {STANDIN_JS_STRING, 0, L"abc"}, {STANDIN_JS_UNDEFINED, 0, nullptr}};
    ASSERT_EQ(standinCallBound("onJsCall", 1, typed, 3, nullptr), 1);
    EXPECT_EQ(g_native.args, (std::vector<std::wstring>{L"5", L"abc", L"undefined"}));

    Fn<void(__cdecl*)(const char*, void*, int)>("jsBindFunction")("fastOne", reinterpret_cast<void*>(FastFunction), 1);
    ASSERT_EQ(standinCallBoundStrings("fastOne", 9, args, 1, &result), 1);
    EXPECT_EQ(g_native.args, (std::vector<std::wstring>{L"btn"}));
    EXPECT_EQ(JsToTempStringW(0, result), L"fast");

    EXPECT_EQ(standinCallBoundStrings("notBound", 1, args, 1, &result), 0);
    EXPECT_EQ(standinCallBoundStrings("onJsCall", 1, nullptr, 2, &result), 0);  // arguments missing
}

namespace {

struct Fired {
    int calls = 0;
    std::uint32_t w[8] = {};
};
Fired g_fired;
std::uint32_t g_fire_return = 0;

std::uint32_t __cdecl Recorder(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t e,
                               std::uint32_t f, std::uint32_t g, std::uint32_t h) {
    ++g_fired.calls;
    std::uint32_t all[8] = {a, b, c, d, e, f, g, h};
    std::memcpy(g_fired.w, all, sizeof all);
    return g_fire_return;
}

std::string PlainAt(std::uint32_t address) { return address ? reinterpret_cast<const char*>(address) : "<null>"; }

std::string InCodePage(const std::wstring& text) {
    char buf[256] = {};
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, buf, sizeof buf, nullptr, nullptr);
    return buf;
}

}  // namespace

TEST(StandinFire, EachNotificationReachesItsCallbackWithTheArgumentsOfItsKind) {
    const int view = 0x5150;
    // Words after (view, param): u = url as a plain string, s1/s2/s3 = string objects of text1..3, r = the
    // prompt's result object, j = job, i0.. = ints, B/L = buffer and length, R = record, F = routine.
    struct Case {
        const char* registration;
        std::vector<std::string> words;
    } cases[] = {
        {"wkeOnTitleChanged", {"s1"}},
        {"wkeOnMouseOverUrlChanged", {"s1"}},
        {"wkeOnURLChanged", {"u"}},
        {"wkeOnURLChanged2", {"i0", "u"}},
        {"wkeOnPaintUpdated", {"i0", "i1", "i2", "i3", "i4"}},
        {"wkeOnPaintBitUpdated", {"B", "R", "i0", "i1"}},
        {"wkeOnAlertBox", {"s1"}},
        {"wkeOnConfirmBox", {"s1"}},
        {"wkeOnPromptBox", {"s1", "s2", "r"}},
        {"wkeOnNavigation", {"i0", "u"}},
        {"wkeOnCreateView", {"i0", "u", "R"}},
        {"wkeOnDocumentReady", {}},
        {"wkeOnDocumentReady2", {"i0"}},
        {"wkeOnDownload", {"u"}},
        {"wkeOnConsole", {"i0", "s1", "s2", "i1", "s3"}},
        {"wkeOnLoadUrlBegin", {"u", "j"}},
        {"wkeOnLoadUrlEnd", {"u", "j", "B", "L"}},
        {"wkeOnDidCreateScriptContext", {"i0", "i1", "i2", "i3"}},
        {"wkeOnWillReleaseScriptContext", {"i0", "i1", "i2"}},
        {"wkeOnWillMediaLoad", {"u", "R"}},
        {"wkeOnWindowClosing", {}},
        {"wkeOnWindowDestroy", {}},
        {"wkeNetOnResponse", {"u", "j"}},
        {"wkeNetGetFavicon", {"u", "R"}},
    };
    const unsigned char buffer[10] = {0, 1, 2, 0, 4, 5, 6, 7, 8, 0};
    const int record[8] = {11, 12, 13, 14};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.registration);
        Fn<void(__cdecl*)(int, void*, std::uint32_t)>(c.registration)(view, reinterpret_cast<void*>(Recorder), 0xAB);
        StandinFireArgs args{};
        args.url = L"http://127.0.0.1/\u00e9";
        args.text1 = L"first \u4E2D";
        args.text2 = L"second";
        args.text3 = L"third";
        for (int i = 0; i < 5; ++i) args.ints[i] = 100 + i;
        args.buffer = buffer;
        args.bufferLength = sizeof buffer;
        args.record = record;
        g_fired = {};
        g_fire_return = 0x0101;
        unsigned int result = 0;
        ASSERT_EQ(standinFire(view, c.registration, &args, &result), 1);
        EXPECT_EQ(result, 0x0101u);
        ASSERT_EQ(g_fired.calls, 1);
        EXPECT_EQ(g_fired.w[0], static_cast<std::uint32_t>(view));
        EXPECT_EQ(g_fired.w[1], 0xABu);
        for (std::size_t i = 0; i < c.words.size(); ++i) {
            const std::string& k = c.words[i];
            std::uint32_t got = g_fired.w[2 + i];
            SCOPED_TRACE(k);
            if (k == "u") EXPECT_EQ(PlainAt(got), InCodePage(L"http://127.0.0.1/\u00e9"));
            else if (k == "s1") EXPECT_EQ(GetStringW(got), L"first \u4E2D");
            else if (k == "s2") EXPECT_EQ(GetStringW(got), L"second");
            else if (k == "s3") EXPECT_EQ(GetStringW(got), L"third");
            else if (k == "r") EXPECT_EQ(static_cast<int>(got), args.promptResult);
            else if (k == "j") EXPECT_EQ(static_cast<int>(got), args.jobUsed);
            else if (k == "B") EXPECT_EQ(got, reinterpret_cast<std::uint32_t>(buffer));
            else if (k == "L") EXPECT_EQ(got, 10u);
            else if (k == "R") EXPECT_EQ(got, reinterpret_cast<std::uint32_t>(record));
            else EXPECT_EQ(got, static_cast<std::uint32_t>(100 + (k[1] - '0')));
        }
    }
    // The UI-thread callback is called (view, routine, param).
    Fn<void(__cdecl*)(int, void*, std::uint32_t)>("wkeSetUIThreadCallback")(view, reinterpret_cast<void*>(Recorder), 0xCD);
    StandinFireArgs ui{};
    ui.ints[0] = 0x1234;
    ASSERT_EQ(standinFire(view, "wkeSetUIThreadCallback", &ui, nullptr), 1);
    EXPECT_EQ(g_fired.w[1], 0x1234u);
    EXPECT_EQ(g_fired.w[2], 0xCDu);
}

TEST(StandinFire, APromptResultAndAHookedJobAreVisibleAfterTheCall) {
    const int view = 0x6160;
    auto* prompt = +[](int, std::uint32_t, int, int, int result) -> std::uint32_t {
        Fn<void(__cdecl*)(int, const wchar_t*, int)>("wkeSetStringW")(result, L"answer", 6);
        return 1;
    };
    Fn<void(__cdecl*)(int, void*, std::uint32_t)>("wkeOnPromptBox")(view, reinterpret_cast<void*>(prompt), 0);
    StandinFireArgs args{};
    unsigned int result = 0;
    ASSERT_EQ(standinFire(view, "wkeOnPromptBox", &args, &result), 1);
    EXPECT_EQ(result & 0xFF, 1u);
    EXPECT_EQ(GetStringW(args.promptResult), L"answer");

    auto* begin = +[](int, std::uint32_t, const char*, int job) -> std::uint32_t {
        Fn<void(__cdecl*)(int)>("wkeNetHookRequest")(job);
        return 0;
    };
    Fn<void(__cdecl*)(int, void*, std::uint32_t)>("wkeOnLoadUrlBegin")(view, reinterpret_cast<void*>(begin), 0);
    StandinFireArgs load{};
    load.url = L"http://127.0.0.1/a.js";
    ASSERT_EQ(standinFire(view, "wkeOnLoadUrlBegin", &load, nullptr), 1);
    EXPECT_NE(load.jobUsed, 0);
    EXPECT_EQ(standinJobHooked(load.jobUsed), 1);
    StandinFireArgs other{};
    ASSERT_EQ(standinFire(view, "wkeOnLoadUrlBegin", &other, nullptr), 1);
    EXPECT_NE(other.jobUsed, load.jobUsed);
    EXPECT_EQ(standinJobHooked(12345), 0);
}

TEST(StandinFire, NothingIsCalledWithoutARegistrationOrForAnUnknownKind) {
    EXPECT_EQ(standinFire(0x7170, "wkeOnDownload", nullptr, nullptr), 0);
    Fn<void(__cdecl*)(int, void*, std::uint32_t)>("wkeOnDownload")(0x7170, nullptr, 0);  // a null callback
    EXPECT_EQ(standinFire(0x7170, "wkeOnDownload", nullptr, nullptr), 0);
    EXPECT_EQ(standinFire(0x7170, "wkeGetURL", nullptr, nullptr), 0);
    EXPECT_EQ(standinFire(0x7170, nullptr, nullptr, nullptr), 0);
    unsigned int callback = 1, param = 1;
    EXPECT_EQ(standinRegistration(0x7170, "wkeOnDownload", &callback, &param), 1);
    EXPECT_EQ(callback, 0u);
    EXPECT_EQ(standinRegistration(0x7170, "wkeOnConsole", &callback, &param), 0);
}
