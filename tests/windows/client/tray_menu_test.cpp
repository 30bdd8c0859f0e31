// The tray menu form: its five lines, what each runs, and that it closes on a click elsewhere.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/muen_frm.h"
#include "test_support.h"

using namespace vantorix::client;
using namespace client_test;

namespace {
std::vector<std::string> g_ran;
MuenFrm::Actions RecordingActions() {
    return {[] { g_ran.push_back("home"); }, [] { g_ran.push_back("feedback"); }, [] { g_ran.push_back("update"); },
            [] { g_ran.push_back("quit"); }};
}
}  // namespace

TEST(TrayMenu, HoldsMenuWithFiveLinesInOrder) {
    MuenFrm form(RecordingActions());
    form.Load();
    ASSERT_TRUE(form.IsLoaded());
    wchar_t text[64] = {};
    GetMenuStringW(form.menu(), 0, text, 64, MF_BYPOSITION);
    EXPECT_STREQ(text, L"菜单");
    HMENU muens = form.muens();
    ASSERT_EQ(GetMenuItemCount(muens), 5);
    const wchar_t* captions[] = {L"官方网站", L"意见反馈", nullptr, L"检查更新", L"退出"};
    for (int i = 0; i < 5; ++i) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE;
        GetMenuItemInfoW(muens, i, TRUE, &info);
        if (!captions[i]) {
            EXPECT_TRUE(info.fType & MFT_SEPARATOR) << i;
            continue;
        }
        GetMenuStringW(muens, i, text, 64, MF_BYPOSITION);
        EXPECT_STREQ(text, captions[i]) << i;
    }
    EXPECT_FALSE(IsWindowVisible(form.window())) << "the form is never shown";
    EXPECT_EQ(WindowText(form.window()), L"Form1");
}

TEST(TrayMenu, EachLineRunsItsAction) {
    MuenFrm form(RecordingActions());
    struct Case { UINT item; const char* ran; } cases[] = {
        {MuenFrm::kService, "home"}, {MuenFrm::kSetServer, "feedback"}, {MuenFrm::kUpdateMe, "update"},
        {MuenFrm::kTheEnd, "quit"},
    };
    for (const auto& c : cases) {
        g_ran.clear();
        form.Choose(c.item);
        ASSERT_EQ(g_ran.size(), 1u);
        EXPECT_EQ(g_ran[0], c.ran);
    }
    g_ran.clear();
    form.Choose(MuenFrm::kNum);
    EXPECT_TRUE(g_ran.empty()) << "the separator runs nothing";
}

TEST(TrayMenu, ChoosingALineWithTheMouseRunsItBeforeThePopupReturns) {
    g_ran.clear();
    MuenFrm form(RecordingActions());
    // The user opens the menu at (300, 300), then clicks the fourth line ("检查更新").
    MouseTo(300, 300);
    Later(800, [] {
        HWND menu = FindWindowW(L"#32768", nullptr);
        RECT item{};
        if (menu) {
            HMENU h = reinterpret_cast<HMENU>(SendMessageW(menu, 0x01E1 /* MN_GETHMENU */, 0, 0));
            GetMenuItemRect(nullptr, h, 3, &item);
        }
        MouseTo((item.left + item.right) / 2, (item.top + item.bottom) / 2);
        Sleep(200);
        MouseButton(true);
        Sleep(50);
        MouseButton(false);
    });
    form.PopupAt({300, 300});
    ASSERT_EQ(g_ran.size(), 1u);
    EXPECT_EQ(g_ran[0], "update");
}

TEST(TrayMenu, AClickElsewhereClosesTheMenuWithoutChoosing) {
    g_ran.clear();
    MuenFrm form(RecordingActions());
    PlainWindow elsewhere(700, 500, 200, 200);
    Later(800, [] {
        MouseTo(800, 600);
        Sleep(200);
        MouseButton(true);
        Sleep(50);
        MouseButton(false);
    });
    const DWORD start = GetTickCount();
    form.PopupAt({300, 300});
    EXPECT_LT(GetTickCount() - start, 5000u) << "one click elsewhere ended the menu";
    EXPECT_TRUE(g_ran.empty());
    EXPECT_EQ(FindWindowW(L"#32768", nullptr) == nullptr || !IsWindowVisible(FindWindowW(L"#32768", nullptr)), true);
}
