// The screen colour picker: what it shows for the pixel under the pointer, its hot key, the magnifier, the
// topmost box, and that sampling keeps no GDI object.
#include <gtest/gtest.h>

#include <memory>

#include "client/windowdc.h"
#include "test_support.h"

using namespace vantorix::client;
using namespace client_test;

namespace {

struct PickerTest : ::testing::Test {
    Windowdc picker{nullptr};
    void SetUp() override {
        picker.ShowOrActivate();
        Pump(100);
        ASSERT_TRUE(picker.IsOpen());
    }
    std::wstring Text(Windowdc::ControlId id) { return WindowText(picker.control(id)); }
};

}  // namespace

TEST_F(PickerTest, OpensWithItsCaptionControlsAndUsageText) {
    EXPECT_EQ(WindowText(picker.window()), L"Vantorix屏幕取色器测试版 1.0.0");
    // The design size at the screen's scale (run at 96 and at 144 dpi).
    ASSERT_TRUE(DpiAware());
    EXPECT_EQ(picker.dpi(), ScreenDpi());
    RECT client{};
    GetClientRect(picker.window(), &client);
    EXPECT_EQ(client.right, MulDiv(497, ScreenDpi(), 96));
    EXPECT_EQ(client.bottom, MulDiv(185, ScreenDpi(), 96));
    EXPECT_EQ(GetWindowLongW(picker.window(), GWL_STYLE) & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
    struct Case { Windowdc::ControlId id; const wchar_t* text; } cases[] = {
        {Windowdc::kCommand1, L"开始"}, {Windowdc::kCheck1, L"窗口置顶"}, {Windowdc::kFrame1, L"鼠标位置："},
        {Windowdc::kLabelRgb, L"RGB颜色："}, {Windowdc::kLabelHex, L"十六进制："}, {Windowdc::kLabelDec, L"十进制："},
        {Windowdc::kLabel5, L"使用方法：\r\n1.按下CTRL+ALT+D后移动鼠标开始截取区域\r\n"
                            L"2.再次按下CTRL+ALT+D后截取完毕，右上角出现截取区域的图片\r\n3.在出现截取区域图片中点击你要的色彩"},
    };
    for (const auto& c : cases) EXPECT_EQ(Text(c.id), c.text) << c.id;
    RECT picture{};
    GetWindowRect(picker.control(Windowdc::kPicture1), &picture);
    EXPECT_EQ(picture.right - picture.left, MulDiv(65, ScreenDpi(), 96));
}

TEST(PickerPointer, SamplesMagnifiesAndShowsThePointThePointerSourceGives) {
    // The picker reads the pointer through one source in the screen device context's pixels; here the
    // source names a spot over a patch while the system's pointer is elsewhere.
    PlainWindow patch(105, 105, 120, 120, RGB(1, 2, 3));  // its top-left pixel is the pointer's (clear of the picker)
    SetWindowPos(patch.get(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    Pump(150);
    MouseTo(5, 5);
    Windowdc picker(nullptr, [] { return POINT{105, 105}; });
    picker.ShowOrActivate();
    Pump(100);
    picker.Tick();
    EXPECT_EQ(WindowText(picker.control(Windowdc::kFrame1)), L"坐标(105,105)");
    EXPECT_EQ(WindowText(picker.control(Windowdc::kText2)), L"#010203");
    // The magnified square starts 4 pixels up and left of the pointer: its columns and rows 0 to 3 lie
    // outside the patch, the pointer's (4) inside.
    HWND magnifier = picker.control(Windowdc::kPicture1);
    const int magnified = MulDiv(73, ScreenDpi(), 96);
    auto centre = [magnified](int column) { return (2 * column + 1) * magnified / 30; };
    SendMessageW(magnifier, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(centre(4), centre(4)));
    EXPECT_EQ(WindowText(picker.control(Windowdc::kText2)), L"#010203");
    SendMessageW(magnifier, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(centre(3), centre(3)));
    EXPECT_NE(WindowText(picker.control(Windowdc::kText2)), L"#010203");
}

TEST_F(PickerTest, PixelUnderThePointerShowsAsRgbHexAndDecimal) {
    struct Case { COLORREF color; const wchar_t* rgb; const wchar_t* hex; const wchar_t* dec; } cases[] = {
        {RGB(255, 0, 0), L"255,0,0", L"#FF0000", L"255"},
        {RGB(1, 2, 3), L"1,2,3", L"#010203", L"197121"},
    };
    for (const auto& c : cases) {
        PlainWindow patch(700, 500, 120, 120, c.color);
        SetWindowPos(patch.get(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        Pump(150);
        MouseTo(760, 560);
        picker.Tick();
        EXPECT_EQ(Text(Windowdc::kText1), c.rgb);
        EXPECT_EQ(Text(Windowdc::kText2), c.hex);
        EXPECT_EQ(Text(Windowdc::kText3), c.dec);
        EXPECT_EQ(Text(Windowdc::kFrame1), L"坐标(760,560)");
        // A press in the magnifier picks the colour it shows (the whole box is the patch's colour here).
        SetWindowTextW(picker.control(Windowdc::kText1), L"");
        SendMessageW(picker.control(Windowdc::kPicture1), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(30, 30));
        EXPECT_EQ(Text(Windowdc::kText1), c.rgb);
    }
}

TEST_F(PickerTest, PointerAtTheTopLeftPixelReadsCoordinateZeroZero) {
    MouseTo(0, 0);
    picker.Tick();
    EXPECT_EQ(Text(Windowdc::kFrame1), L"坐标(0,0)");
}

TEST_F(PickerTest, MagnifierPressPicksTheColourOfTheSpotPressed) {
    // Two colours side by side under the sampled square: left half red, right half blue.
    PlainWindow red(600, 400, 100, 100, RGB(255, 0, 0));
    PlainWindow blue(700, 400, 100, 100, RGB(0, 0, 255));
    SetWindowPos(red.get(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetWindowPos(blue.get(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    Pump(150);
    MouseTo(700, 450);  // the square spans x 696..710: four red columns, then blue
    picker.Tick();
    HWND magnifier = picker.control(Windowdc::kPicture1);
    SendMessageW(magnifier, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 30));  // column 1 of 15: red
    EXPECT_EQ(Text(Windowdc::kText2), L"#FF0000");
    SendMessageW(magnifier, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 30));  // column 10: blue
    EXPECT_EQ(Text(Windowdc::kText2), L"#0000FF");
    EXPECT_EQ(Text(Windowdc::kText3), L"16711680");
}

TEST_F(PickerTest, AnUnreadablePixelKeepsThePreviousColour) {
    PlainWindow patch(700, 500, 120, 120, RGB(1, 2, 3));
    SetWindowPos(patch.get(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    Pump(150);
    MouseTo(760, 560);
    picker.Tick();
    ASSERT_EQ(Text(Windowdc::kText1), L"1,2,3");
    // A press outside the magnified image reads no pixel: the invalid-colour value never shows as "-1,...".
    SendMessageW(picker.control(Windowdc::kPicture1), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5000, 5000));
    EXPECT_EQ(Text(Windowdc::kText1), L"1,2,3");
    EXPECT_EQ(Text(Windowdc::kText2), L"#010203");
    EXPECT_EQ(Text(Windowdc::kText3), L"197121");
}

TEST_F(PickerTest, StartButtonSwitchesSamplingAndTheTimerTicks) {
    PlainWindow patch(700, 500, 120, 120, RGB(255, 0, 0));
    SetWindowPos(patch.get(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    MouseTo(760, 560);
    SendMessageW(picker.control(Windowdc::kCommand1), BM_CLICK, 0, 0);
    EXPECT_TRUE(picker.Sampling());
    EXPECT_EQ(Text(Windowdc::kCommand1), L"停止");
    EXPECT_TRUE(PumpUntil([&] { return Text(Windowdc::kText1) == L"255,0,0"; }, 2000)) << "a timer tick sampled";
    SendMessageW(picker.control(Windowdc::kCommand1), BM_CLICK, 0, 0);
    EXPECT_FALSE(picker.Sampling());
    EXPECT_EQ(Text(Windowdc::kCommand1), L"开始");
    // Stopped: moving elsewhere changes nothing.
    MouseTo(10, 700);
    Pump(300);
    EXPECT_EQ(Text(Windowdc::kFrame1), L"坐标(760,560)");
}

TEST_F(PickerTest, HotKeyTogglesSamplingFromAnotherWindowUntilThePickerCloses) {
    PlainWindow other(100, 100, 200, 200);
    SetForegroundWindow(other.get());
    Pump(100);
    CtrlAltD();
    EXPECT_TRUE(PumpUntil([&] { return picker.Sampling(); }, 3000)) << "first press starts";
    CtrlAltD();
    EXPECT_TRUE(PumpUntil([&] { return !picker.Sampling(); }, 3000)) << "second press stops";
    // Closed: the key is free again.
    picker.Close();
    EXPECT_FALSE(picker.IsOpen());
    EXPECT_TRUE(RegisterHotKey(other.get(), 77, MOD_CONTROL | MOD_ALT, 'D')) << "the picker gave its key back";
    UnregisterHotKey(other.get(), 77);
    // Reopened: it works again.
    picker.ShowOrActivate();
    SetForegroundWindow(other.get());
    Pump(100);
    CtrlAltD();
    EXPECT_TRUE(PumpUntil([&] { return picker.Sampling(); }, 3000)) << "works after reopening";
}

TEST_F(PickerTest, TopmostBoxFollowsTheUserAndActivationTicksItAgain) {
    auto topmost = [&] { return (GetWindowLongW(picker.window(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; };
    SetForegroundWindow(picker.window());
    Pump(100);
    EXPECT_EQ(SendMessageW(picker.control(Windowdc::kCheck1), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(topmost());
    SendMessageW(picker.control(Windowdc::kCheck1), BM_CLICK, 0, 0);  // the user unticks it
    EXPECT_EQ(SendMessageW(picker.control(Windowdc::kCheck1), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_FALSE(topmost());
    PlainWindow other(100, 100, 200, 200);
    SetForegroundWindow(other.get());
    Pump(100);
    SetForegroundWindow(picker.window());  // back to the picker
    Pump(100);
    EXPECT_EQ(SendMessageW(picker.control(Windowdc::kCheck1), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(topmost());
}

// The picker opens centred in the work area of the monitor its main window is on: under Wine one monitor
// with a taskbar at its left, and, through the picker's monitor lookup, a second monitor right of it.
TEST(PickerPlace, OpensCentredOnTheWorkAreaOfTheMainWindowsMonitor) {
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    PlainWindow main(100, 100, 400, 300);
    const vantorix::window::Edges second{sw, 0, sw + 1024, 768};
    HWND asked = nullptr;
    struct Case { const char* what; Windowdc::WorkAreaSource lookup; vantorix::window::Edges work; } cases[] = {
        {"taskbar at the left", nullptr, {300, 0, sw, sh}},
        {"second monitor", [&](HWND w) { return asked = w, second; }, second},
    };
    for (const auto& c : cases) {
        // The system's own lookup meets a work area set for the test.
        std::unique_ptr<WorkArea> area;
        if (!c.lookup) area = std::make_unique<WorkArea>(RECT{c.work.left, c.work.top, c.work.right, c.work.bottom});
        Windowdc picker(main.get(), nullptr, c.lookup);
        picker.ShowOrActivate();
        Pump(100);
        RECT r{};
        GetWindowRect(picker.window(), &r);
        EXPECT_NEAR((r.left + r.right) / 2, (c.work.left + c.work.right) / 2, 1) << c.what;
        EXPECT_NEAR((r.top + r.bottom) / 2, (c.work.top + c.work.bottom) / 2, 1) << c.what;
        picker.Close();
    }
    EXPECT_EQ(asked, main.get()) << "the lookup is asked for the main window's monitor";
}

TEST_F(PickerTest, WindowdcTwiceGivesOnePicker) {
    HWND first = picker.window();
    picker.ShowOrActivate();
    EXPECT_EQ(picker.window(), first);
    int pickers = 0;
    struct Counter {
        static BOOL CALLBACK Count(HWND w, LPARAM p) {
            wchar_t cls[64] = {};
            GetClassNameW(w, cls, 64);
            if (std::wstring(cls) == Windowdc::kWindowClass) ++*reinterpret_cast<int*>(p);
            return TRUE;
        }
    };
    EnumThreadWindows(GetCurrentThreadId(), &Counter::Count, reinterpret_cast<LPARAM>(&pickers));
    EXPECT_EQ(pickers, 1);
}

TEST_F(PickerTest, ThousandSamplingTicksKeepGdiAndWindowCountsFlat) {
    PlainWindow patch(700, 500, 120, 120, RGB(9, 8, 7));
    MouseTo(760, 560);
    picker.Tick();
    Pump(50);
    const long gdi_before = GdiObjectCount(), windows_before = WindowCount();
    ASSERT_GT(gdi_before, 0) << "the process's GDI objects can be counted";
    {
        HBRUSH leak_probe = CreateSolidBrush(RGB(4, 5, 6));  // the count sees one more object
        EXPECT_EQ(GdiObjectCount(), gdi_before + 1);
        DeleteObject(leak_probe);
    }
    const DWORD start = GetTickCount();
    for (int i = 0; i < 1000; ++i) {
        MouseTo(700 + i % 200, 450 + i % 150);  // the colour changes, so the swatch brush is replaced too
        picker.Tick();
        if (i % 50 == 0) Pump(0);
    }
    Pump(50);
    const long gdi_after = GdiObjectCount(), windows_after = WindowCount();
    std::printf("1000 ticks: %lu ms; GDI objects %ld -> %ld; windows %ld -> %ld\n", GetTickCount() - start,
                gdi_before, gdi_after, windows_before, windows_after);
    EXPECT_LE(gdi_after, gdi_before + 2);
    EXPECT_EQ(windows_after, windows_before);
}
