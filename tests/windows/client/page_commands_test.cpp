// The page command bridge: how a page call's arguments are read and which command runs.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "client/page_commands.h"

using namespace vantorix::client;

namespace {

// An engine whose one execution state holds the given arguments (script values are their indexes + 1).
class FakeEngine : public EngineApi {
public:
    std::vector<std::wstring> args;
    std::vector<std::string> calls;
    void InitializeEx(std::int32_t) override {}
    void JsBindFunction(const std::wstring&, std::int32_t, std::int32_t, std::int32_t) override {}
    WebView CreateWebWindow(std::int32_t, HWND, int, int, int, int) override { return 0; }
    void ShowWindow(WebView, bool) override {}
    void OnLoadUrlBegin(WebView, std::int32_t, std::int32_t) override {}
    void OnCreateView(WebView, std::int32_t, std::int32_t) override {}
    void OnDownload(WebView, std::int32_t, std::int32_t) override {}
    void LoadFileW(WebView, const std::wstring&) override {}
    void MoveWindow(WebView, int, int, int, int) override {}
    void RunJS(WebView, const std::wstring&) override { calls.push_back("RunJS"); }
    JsValue JsArg(JsExecState, int index) override {
        calls.push_back("jsArg " + std::to_string(index));
        return index + 1;
    }
    int JsArgCount(JsExecState) override { return static_cast<int>(args.size()); }
    std::wstring JsToTempStringW(JsExecState, JsValue value) override {
        // Beyond the arguments the engine gives "undefined", as a page's missing argument reads.
        return value >= 1 && value <= static_cast<JsValue>(args.size()) ? args[value - 1] : L"undefined";
    }
};

class RecordingTarget : public PageCommandTarget {
public:
    std::vector<std::wstring> ran;
    void Maximize() override { ran.push_back(L"Maximize"); }
    void Minimize() override { ran.push_back(L"Minimize"); }
    void MouseDown(const std::wstring& zone) override { ran.push_back(L"MouseDown " + zone); }
    void Move() override { ran.push_back(L"Move"); }
    void Close() override { ran.push_back(L"Close"); }
    void OpenServiceChat() override { ran.push_back(L"OpenServiceChat"); }
    void ShowColourPicker() override { ran.push_back(L"ShowColourPicker"); }
    void UpdateMe() override { ran.push_back(L"UpdateMe"); }
    void OpenUserGroup() override { ran.push_back(L"OpenUserGroup"); }
    void HideToTray() override { ran.push_back(L"HideToTray"); }
};

std::vector<std::wstring> RunCall(std::vector<std::wstring> args) {
    FakeEngine engine;
    engine.args = std::move(args);
    RecordingTarget target;
    HandlePageCall(engine, 7, target);
    return target.ran;
}

}  // namespace

TEST(PageCommands, EveryCommandOfTheVocabularyRunsItsAction) {
    struct Case { std::vector<std::wstring> args; std::wstring ran; } cases[] = {
        {{L"btn", L"maximize"}, L"Maximize"},
        {{L"btn", L"minimize"}, L"Minimize"},
        {{L"btn", L"mousedown"}, L"MouseDown btn"},
        {{L"btn", L"move"}, L"Move"},
        {{L"btn", L"close"}, L"Close"},
        {{L"btn", L"service_btn"}, L"OpenServiceChat"},
        {{L"btn", L"windowdc"}, L"ShowColourPicker"},
        {{L"btn", L"updateme"}, L"UpdateMe"},
        {{L"btn", L"qgroup"}, L"OpenUserGroup"},
        {{L"btn", L"shrinkmize"}, L"HideToTray"},
        // Commands are case-insensitive.
        {{L"btn", L"MAXIMIZE"}, L"Maximize"},
        {{L"btn", L"ShrinkMize"}, L"HideToTray"},
        {{L"btn", L"Service_Btn"}, L"OpenServiceChat"},
        // A third argument names the zone of "mousedown" ...
        {{L"btn", L"mousedown", L"nw-resize"}, L"MouseDown nw-resize"},
        {{L"btn", L"MouseDown", L"se-resize"}, L"MouseDown se-resize"},
        // ... and is ignored by every other command.
        {{L"btn", L"maximize", L"nw-resize"}, L"Maximize"},
    };
    for (const auto& c : cases) {
        auto ran = RunCall(c.args);
        ASSERT_EQ(ran.size(), 1u) << std::string(c.args[1].begin(), c.args[1].end());
        EXPECT_EQ(ran[0], c.ran);
    }
}

TEST(PageCommands, OtherCallsDoNothing) {
    struct Case { std::vector<std::wstring> args; const char* what; } cases[] = {
        {{L"BTN", L"maximize"}, "group in capitals"},
        {{L"Btn", L"close"}, "group in mixed case"},
        {{L"btn ", L"close"}, "group with a blank"},
        {{L"win", L"close"}, "another group"},
        {{L"btn", L"explode"}, "unknown command"},
        {{L"btn", L""}, "empty command"},
        {{L"btn", L"maximize "}, "command with a blank"},
        {{L"btn", L"max"}, "a prefix of a command"},
        {{L"btn"}, "no command"},
        {{}, "no arguments"},
        {{L"maximize"}, "the command alone"},
    };
    for (const auto& c : cases) EXPECT_TRUE(RunCall(c.args).empty()) << c.what;
}

TEST(PageCommands, ArgumentsAreReadOnlyAsFarAsNeededAndNoReplyIsSet) {
    FakeEngine engine;
    RecordingTarget target;
    engine.args = {L"other", L"close"};
    HandlePageCall(engine, 7, target);
    EXPECT_EQ(engine.calls, std::vector<std::string>{"jsArg 0"}) << "a foreign group stops after argument 0";
    engine.calls.clear();
    engine.args = {L"btn", L"close"};
    HandlePageCall(engine, 7, target);
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"jsArg 0", "jsArg 1"})) << "no third argument read";
    engine.calls.clear();
    engine.args = {L"btn", L"mousedown", L"n-resize"};
    HandlePageCall(engine, 7, target);
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"jsArg 0", "jsArg 1", "jsArg 2"}));
}
