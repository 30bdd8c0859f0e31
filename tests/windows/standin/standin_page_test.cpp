// What a person and a test see of a loaded page: a real window with the title and one button per page
// call, and a click that travels to the bound function as the page's own call would.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/pagemarkup/page_markup.h"
#include "tests/windows/standin/standin_test_support.h"
#include "win/unique_handle.h"

using namespace standin_test;

namespace {

std::vector<std::vector<std::wstring>> g_calls;
int g_nested_view = 0;

JsValue __cdecl OnJsCall(int es, std::uint32_t) {
    std::vector<std::wstring> args;
    int n = Fn<int(__cdecl*)(int)>("jsArgCount")(es);
    for (int i = 0; i < n; ++i) args.push_back(JsToTempStringW(es, JsArg(es, i)));
    g_calls.push_back(args);
    // A page call whose handler runs script that calls the page function again.
    if (args.size() == 2 && args[1] == L"nest")
        Fn<JsValue(__cdecl*)(int, const wchar_t*)>("wkeRunJSW")(g_nested_view, L"onJsCall('inner', 'call');");
    return Fn<JsValue(__cdecl*)(int)>("jsInt")(static_cast<int>(g_calls.size()));
}

void BindOnJsCall() {
    Fn<void(__cdecl*)(const char*, void*, std::uint32_t, int)>("wkeJsBindFunction")("onJsCall", reinterpret_cast<void*>(OnJsCall), 0, 2);
}

const char kPage[] =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>TAVI\xE5\x8A\xA9\xE6\x89\x8BPlus</title></head><body>\n"
    "<div class=\"bar\" onmousedown=\"onJsCall('btn','move')\" title=\"Drag\"></div>\n"
    "<a href=\"#\" onclick=\"onJsCall('btn','maximize')\">Maximise</a>\n"
    "<a href=\"#\" onclick=\"onJsCall('btn','close')\">\xE5\x85\xB3\xE9\x97\xAD</a>\n"
    "<a onclick=\"onJsCall('btn','nest')\">Nest</a>\n"
    "</body></html>\n";

std::wstring Utf16OfUtf8(const char* utf8) {
    wchar_t buf[512];
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, buf, 512);
    return buf;
}

std::wstring FileUrl(const std::wstring& path) { return L"file:///" + path + L"?0.7055475"; }

}  // namespace

TEST(StandinPage, AChildWebWindowShowsTheLoadedFileWithItsTitleAndButtons) {
    BindOnJsCall();
    HWND parent = TestParentWindow();
    auto create = Fn<int(__cdecl*)(int, HWND, int, int, int, int)>("wkeCreateWebWindow");
    int view = create(2, parent, 0, 0, 513, 300);
    ASSERT_NE(view, 0);
    HWND window = Fn<HWND(__cdecl*)(int)>("wkeGetWindowHandle")(view);
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(GetParent(window), parent);
    EXPECT_TRUE(GetWindowLongW(window, GWL_STYLE) & WS_CHILD);
    EXPECT_EQ(standinViewWindow(view), reinterpret_cast<int>(window));
    Fn<void(__cdecl*)(int, std::uint32_t)>("wkeShowWindow")(view, 1);
    EXPECT_TRUE(IsWindowVisible(window));
    Fn<void(__cdecl*)(int, int, int, int, int)>("wkeMoveWindow")(view, 0, 0, 613, 320);
    RECT r;
    GetClientRect(window, &r);
    EXPECT_EQ(r.right, 613);
    EXPECT_EQ(r.bottom, 320);

    std::wstring path = WriteTempFile(L"standin page \u4E2D.html", kPage);
    std::wstring url = FileUrl(path);
    Fn<void(__cdecl*)(int, const wchar_t*)>("wkeLoadFileW")(view, url.c_str());
    PumpMessages();
    EXPECT_EQ(Fn<std::uint32_t(__cdecl*)(int)>("wkeIsLoadComplete")(view) & 0xFF, 1u);
    EXPECT_EQ(Fn<std::uint32_t(__cdecl*)(int)>("wkeIsDocumentReady")(view) & 0xFF, 1u);
    EXPECT_EQ(Fn<std::uint32_t(__cdecl*)(int)>("wkeIsLoadFailed")(view) & 0xFF, 0u);
    EXPECT_EQ(std::wstring(Fn<const wchar_t*(__cdecl*)(int)>("wkeGetTitleW")(view)), L"TAVI\u52A9\u624BPlus");
    EXPECT_EQ(Utf16OfUtf8(Fn<const char*(__cdecl*)(int)>("wkeGetURL")(view)), url);

    const std::vector<std::wstring> labels = {L"Drag", L"Maximise", L"\u5173\u95ED", L"Nest"};
    ASSERT_EQ(standinButtonCount(view), 4);
    for (int i = 0; i < 4; ++i) {
        wchar_t label[64];
        ASSERT_GE(standinButtonLabel(view, i, label, 64), 0);
        EXPECT_EQ(label, labels[i]);
        // Each is a real push button in the web window, found by its text as a person would find it.
        EXPECT_TRUE(FindWindowExW(window, nullptr, L"BUTTON", labels[i].c_str())) << i;
    }
    char function[32];
    wchar_t args[64];
    EXPECT_EQ(standinButtonCall(view, 2, function, 32, args, 64), 2);
    EXPECT_STREQ(function, "onJsCall");
    EXPECT_STREQ(args, L"btn\tclose");
    EXPECT_EQ(standinButtonLabel(view, 4, nullptr, 0), -1);

    // A real click on the drawn button calls the bound function with the page's arguments.
    g_calls.clear();
    SendMessageW(FindWindowExW(window, nullptr, L"BUTTON", L"Maximise"), BM_CLICK, 0, 0);
    PumpMessages();
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0], (std::vector<std::wstring>{L"btn", L"maximize"}));
    // A call the page makes on mouse-down acts on the press, while the button is still held.
    HWND drag = FindWindowExW(window, nullptr, L"BUTTON", L"Drag");
    SendMessageW(drag, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[1], (std::vector<std::wstring>{L"btn", L"move"}));
    SendMessageW(drag, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    PumpMessages();
    EXPECT_EQ(g_calls.size(), 2u) << "the release makes no second call";
    g_calls.erase(g_calls.begin() + 1);
    EXPECT_EQ(standinClickButton(view, L"\u5173\u95ED"), 1);
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[1], (std::vector<std::wstring>{L"btn", L"close"}));
    EXPECT_EQ(standinClickButton(view, L"No such button"), 0);

    // A page call whose handler runs script calling the page function again: both calls complete.
    g_nested_view = view;
    g_calls.clear();
    EXPECT_EQ(standinClickButton(view, L"Nest"), 1);
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[1], (std::vector<std::wstring>{L"inner", L"call"}));

    Fn<void(__cdecl*)(int)>("wkeDestroyWebWindow")(view);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(standinButtonCount(view), 0);
}

TEST(StandinPage, AWindowlessViewHoldsThePageAndTakesSyntheticClicks) {
    BindOnJsCall();
    int view = Fn<int(__cdecl*)()>("wkeCreateWebView")();
    ASSERT_NE(view, 0);
    EXPECT_EQ(standinViewWindow(view), 0);
    EXPECT_EQ(Fn<HWND(__cdecl*)(int)>("wkeGetWindowHandle")(view), nullptr);
    Fn<void(__cdecl*)(int, const wchar_t*)>("wkeLoadHTMLW")(
        view, L"<title>Inline</title><button onclick=\"jsCall(5, 'abc')\">Five</button>");
    wchar_t title[32];
    ASSERT_EQ(standinViewTitle(view, title, 32), 6);
    EXPECT_STREQ(title, L"Inline");
    // jsCall is not bound here: the click finds the button but reaches nothing.
    EXPECT_EQ(standinClickButton(view, L"Five"), 0);
    Fn<void(__cdecl*)(const char*, void*, std::uint32_t, int)>("wkeJsBindFunction")("jsCall", reinterpret_cast<void*>(OnJsCall), 0, 2);
    g_calls.clear();
    auto mouse = Fn<std::uint32_t(__cdecl*)(int, int, int, int, int)>("wkeFireMouseEvent");
    int width = Fn<int(__cdecl*)(int)>("wkeGetWidth")(view);
    auto box = vantorix::pagemarkup::ButtonBox(0, width);
    EXPECT_EQ(mouse(view, WM_LBUTTONUP, (box.left + box.right) / 2, (box.top + box.bottom) / 2, 0) & 0xFF, 1u);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0], (std::vector<std::wstring>{L"5", L"abc"}));
    mouse(view, WM_LBUTTONUP, 1, 1, 0);  // a release outside every button clicks nothing
    EXPECT_EQ(g_calls.size(), 1u);
}

TEST(StandinPage, ScriptsGiveValuesAndAlertsAndAMissingFileFailsTheLoad) {
    BindOnJsCall();
    int view = Fn<int(__cdecl*)()>("wkeCreateWebView")();
    Fn<void(__cdecl*)(int, const wchar_t*)>("wkeLoadHTMLW")(view, L"<title>T\u00e9</title>");
    auto run_w = Fn<JsValue(__cdecl*)(int, const wchar_t*)>("wkeRunJSW");
    auto run_a = Fn<JsValue(__cdecl*)(int, const char*)>("wkeRunJS");
    int es = Fn<int(__cdecl*)(int)>("wkeGlobalExec")(view);
    ASSERT_NE(es, 0);
    EXPECT_EQ(Fn<int(__cdecl*)(int)>("jsGetWebView")(es), view);
    const struct {
        const wchar_t* script;
        const wchar_t* text;
    } cases[] = {
        {L"return 'x\u4E2D';", L"x\u4E2D"}, {L"42", L"42"}, {L"return document.title", L"T\u00e9"},
        {L"true", L"true"},                  {L"something(complicated) + 1", L"undefined"},
        {L"onJsCall('from', 'script')", L"1"},
    };
    g_calls.clear();
    for (const auto& c : cases) EXPECT_EQ(JsToTempStringW(es, run_w(view, c.script)), c.text) << c.script;
    EXPECT_EQ(g_calls.size(), 1u);
    run_a(view, "return alert('0');");
    wchar_t alert[8] = {};
    EXPECT_EQ(standinAlerts(view, 0, alert, 8), 1);
    EXPECT_STREQ(alert, L"0");

    Fn<void(__cdecl*)(int, const wchar_t*)>("wkeLoadW")(view, L"file:///C:/no/such/page.html?1");
    EXPECT_EQ(Fn<std::uint32_t(__cdecl*)(int)>("wkeIsLoadFailed")(view) & 0xFF, 1u);
    EXPECT_EQ(Fn<std::uint32_t(__cdecl*)(int)>("wkeIsDocumentReady")(view) & 0xFF, 0u);
    EXPECT_EQ(standinButtonCount(view), 0);
}

namespace {

std::vector<std::uint32_t> g_order;
std::uint32_t g_end_length = 0;
std::wstring g_title_seen;

std::uint32_t __cdecl LoadRecorder(int, std::uint32_t kind, std::uint32_t a, std::uint32_t, std::uint32_t, std::uint32_t e) {
    g_order.push_back(kind);
    if (kind == 3) g_title_seen = GetStringW(static_cast<int>(a));
    if (kind == 6) g_end_length = e;
    return 0;
}

}  // namespace

TEST(StandinPage, WithAutoFireALoadNotifiesInABrowsersOrderAfterTheLoadCallReturns) {
    int view = Fn<int(__cdecl*)()>("wkeCreateWebView")();
    const char* kinds[] = {"wkeOnLoadUrlBegin", "wkeOnURLChanged", "wkeOnURLChanged2", "wkeOnTitleChanged",
                           "wkeOnDocumentReady", "wkeOnDocumentReady2", "wkeOnLoadUrlEnd"};
    for (std::uint32_t k = 0; k < 7; ++k)
        Fn<void(__cdecl*)(int, void*, std::uint32_t)>(kinds[k])(view, reinterpret_cast<void*>(LoadRecorder), k);
    g_order.clear();
    standinSetAutoFire(1);
    Fn<void(__cdecl*)(int, const wchar_t*)>("wkeLoadHTMLW")(view, L"<title>Auto \u4E2D</title>");
    standinSetAutoFire(0);
    EXPECT_TRUE(g_order.empty()) << "nothing fires inside the load call";
    PumpMessages();
    EXPECT_EQ(g_order, (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(g_title_seen, L"Auto \u4E2D");
    EXPECT_EQ(g_end_length, std::strlen("<title>Auto \xE4\xB8\xAD</title>"));
    // Switched off, a load fires nothing.
    g_order.clear();
    Fn<void(__cdecl*)(int, const wchar_t*)>("wkeLoadHTMLW")(view, L"<title>Quiet</title>");
    PumpMessages();
    EXPECT_TRUE(g_order.empty());
}
