// The subclassing helper: handlers stack in front of a window's own procedure, each answers or passes a
// message on, each comes out by itself in any order, a destroyed window takes them along, and a handler
// that fails is recorded and its message answered with 0.
#include "win/window_subclass.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "win/diagnostic_log.h"

using vantorix::win::WindowSubclass;

TEST(WindowSubclass, HandlersStackPassOnComeOutInAnyOrderAndAFailureIsRecorded) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring log = std::wstring(temp) + L"window_subclass_test.log";
    DeleteFileW(log.c_str());
    ASSERT_TRUE(vantorix::win::diag::OpenLog(log));

    HWND window = CreateWindowW(L"STATIC", L"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    std::vector<std::string> seen;
    WindowSubclass inner(L"test.inner", [&](HWND, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (message != WM_APP) return std::nullopt;
        seen.push_back("inner");
        return 22;
    });
    WindowSubclass outer(L"test.outer", [&](HWND, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (message == WM_APP) seen.push_back("outer");
        if (message == WM_APP + 1) return 11;
        if (message == WM_APP + 2) throw std::runtime_error("boom");
        return std::nullopt;
    });
    ASSERT_TRUE(inner.Install(window));
    ASSERT_TRUE(outer.Install(window));
    ASSERT_TRUE(outer.Install(window));  // once in the chain, however often installed

    EXPECT_EQ(SendMessageW(window, WM_APP, 0, 0), 22);
    EXPECT_EQ(seen, (std::vector<std::string>{"outer", "inner"}));  // the last installed sees it first
    EXPECT_EQ(SendMessageW(window, WM_APP + 1, 0, 0), 11);
    SetWindowTextW(window, L"own");  // the window's own procedure still answers below both
    wchar_t text[8] = {};
    GetWindowTextW(window, text, 8);
    EXPECT_STREQ(text, L"own");

    EXPECT_EQ(SendMessageW(window, WM_APP + 2, 0, 0), 0);
    std::ifstream in(log.c_str(), std::ios::binary);
    const std::string lines(std::istreambuf_iterator<char>(in), {});
    EXPECT_NE(lines.find("test.outer: a message handler failed: boom"), std::string::npos) << lines;

    inner.Remove();  // the first installed comes out first: the other one stays
    seen.clear();
    EXPECT_EQ(SendMessageW(window, WM_APP, 0, 0), 0);
    EXPECT_EQ(seen, std::vector<std::string>{"outer"});
    DestroyWindow(window);
    EXPECT_EQ(outer.window(), nullptr);
}
