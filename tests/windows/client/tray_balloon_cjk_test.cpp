// Balloon texts in a double-byte code page: cut whole characters only. Runs with the simplified-Chinese code
// page (the test registration starts it so).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "client/tray_control.h"
#include "test_support.h"

using namespace vantorix::client;

TEST(TrayBalloonCjk, AChineseTitleIsCutAtACharacterBoundary) {
    ASSERT_EQ(GetACP(), 936u) << "this case needs the simplified-Chinese code page (LANG=zh_CN.UTF-8)";
    client_test::PlainWindow form(0, 0, 10, 10, RGB(0, 0, 0), false);
    Tray tray(form.get());
    tray.Show();
    struct Case { std::wstring title; std::size_t bytes; const char* what; } cases[] = {
        {std::wstring(40, L'中'), 62, "forty characters: 31 fit whole, the 32nd would need byte 64"},
        {L"a" + std::wstring(40, L'中'), 63, "one ASCII byte first: 31 characters after it end on byte 63"},
        {std::wstring(31, L'中'), 62, "exactly 62 bytes fit"},
    };
    for (const auto& c : cases) {
        tray.ShowBubble(c.title, L"正文", NIIF_INFO);
        const char* field = tray.record().szInfoTitle;
        EXPECT_EQ(std::strlen(field), c.bytes) << c.what;
        // The stored bytes convert back into whole characters: no lone lead byte at the end.
        wchar_t back[80] = {};
        int n = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, field, -1, back, 80);
        EXPECT_GT(n, 0) << c.what;
        EXPECT_EQ(std::wstring(back), c.title.substr(0, std::wstring(back).size())) << c.what;
    }
}
