// The real client under Wine, driven as a user drives it: its start-up checks, its engine calls as the
// stand-in engine logs them, the page's commands sent through the stand-in engine, the tray icon and menu,
// and every way out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <thread>

#include <windows.h>
#include <sddl.h>

#include "win/instance_claim.h"
#include "driver_support.h"

using namespace client_e2e;

namespace {

const wchar_t kToken[] = L"-2018.06.21";
const wchar_t kTitle[] = L"TAVI助手Plus";

std::wstring ClientExe() { return InstalledBin() + L"\\client.exe"; }

// A client started with the token whose page is up (the engine's control window answers).
struct Running {
    Client client{ClientExe(), kToken};
    HWND main = nullptr;
    Running() {
        main = client.WaitMainVisible(30000);
        client.WaitStandin(30000);
        WaitFor([&] { return Names(ReadLog(client.log_path)).size() >= 8; }, 20000);
    }
    LRESULT Page(const std::wstring& group, const std::wstring& command) const {
        return client.Standin(L"call\tonJsCall\t" + group + L"\t" + command);
    }
};

void Keys(std::initializer_list<WORD> keys) {
    for (WORD key : keys) {
        INPUT in[2]{};
        in[0].type = in[1].type = INPUT_KEYBOARD;
        in[0].ki.wVk = in[1].ki.wVk = key;
        in[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, in, sizeof(INPUT));
        Sleep(150);
    }
}

int Count(const std::vector<std::string>& names, const std::string& name) {
    int n = 0;
    for (const auto& x : names) n += x == name;
    return n;
}

// The user presses the page's element of that caption and holds the button: the page acts on the press
// itself, so the host starts its move or size loop inside the press, which the system's loop measures from
// (Wine, like Windows, takes the position of the message being handled, not the press's lParam).
struct ElementSearch {
    const wchar_t* caption;
    HWND found;
};

POINT Centre(HWND window) {
    RECT box{};
    GetWindowRect(window, &box);
    return {(box.left + box.right) / 2, (box.top + box.bottom) / 2};
}

// An element the user can press: shown under its own centre, so it has been laid out in the page.
BOOL CALLBACK MatchElement(HWND child, LPARAM param) {
    auto* search = reinterpret_cast<ElementSearch*>(param);
    wchar_t text[64] = {};
    GetWindowTextW(child, text, 64);
    if (wcscmp(text, search->caption) != 0 || WindowFromPoint(Centre(child)) != child) return TRUE;
    search->found = child;
    return FALSE;
}

void PressPageElement(HWND main, const wchar_t* caption) {
    // The page lays its elements out again while the window settles after start-up: the pointer goes to
    // the element, and the button goes down once the element is still under it after the pointer's move
    // has been delivered.
    const ULONGLONG end = GetTickCount64() + 30000;
    while (GetTickCount64() < end) {
        ElementSearch search{caption, nullptr};
        EnumChildWindows(main, MatchElement, reinterpret_cast<LPARAM>(&search));
        if (!search.found) {
            Sleep(50);
            continue;
        }
        const POINT centre = Centre(search.found);
        MouseTo(centre.x, centre.y);
        Sleep(200);
        if (WindowFromPoint(centre) == search.found) {
            MouseButton(true);
            return;
        }
    }
    FAIL() << "the page shows no element of that caption under the pointer";
}

// The user's hand while a system move or size loop runs: once the window's thread is in the loop (however
// long the loop takes to start on this machine), moves the pressed mouse by (dx, dy) in two steps and lets
// the button go.
std::thread DragAfterPress(HWND window, int dx, int dy) {
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    return std::thread([thread, dx, dy] {
        WaitFor([&] {
            GUITHREADINFO info{};
            info.cbSize = sizeof info;
            return GetGUIThreadInfo(thread, &info) && (info.flags & GUI_INMOVESIZE);
        }, 30000);
        POINT p;
        GetCursorPos(&p);
        MouseTo(p.x + dx / 2, p.y + dy / 2);
        Sleep(300);
        MouseTo(p.x + dx, p.y + dy);
        Sleep(500);
        MouseButton(false);
    });
}

}  // namespace

TEST(ClientStart, WithoutTheExactTokenShowsCannotStartAndEndsWithoutAWindow) {
    struct Case { std::wstring args; bool blank; const char* what; } cases[] = {
        {L"", false, "no argument"},
        {L"-2018.06.21 ", true, "the token with a trailing blank"},
        {L"-2018.06.22", true, "another text"},
        {L"-2018.06.21x", true, "the token with more text"},
        {L"-2018.06.21 -2018.06.21", true, "the token twice"},
    };
    for (const auto& c : cases) {
        Client client(ClientExe(), c.args, c.blank);
        HWND box = client.WaitMessageBox(30000);
        ASSERT_NE(box, nullptr) << c.what;
        wchar_t caption[128] = {};
        GetWindowTextW(box, caption, 128);
        EXPECT_STREQ(caption, kTitle) << c.what;
        EXPECT_EQ(BoxText(box), L"无法启动应用程序") << c.what;
        EXPECT_EQ(client.Window(L"VantorixMainForm", true), nullptr) << c.what << ": no main window shown";
        HWND tray = client.TrayWindow();
        EXPECT_FALSE(tray && TrayIconPresent(tray)) << c.what << ": the token is checked before the icon is shown";
        PressBoxButton(box, IDOK);
        EXPECT_TRUE(client.WaitExit(15000)) << c.what;
    }
}

TEST(ClientStart, MissingSkinShowsTheIntegrityMessageAndLeavesNoTrayIcon) {
    Client client(Root() + L"\\noskin\\bin\\client.exe", kToken);
    HWND box = client.WaitMessageBox(30000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(BoxText(box), L"程序完整性缺失，请检查程序完整性！");
    HWND tray = client.TrayWindow();
    ASSERT_NE(tray, nullptr);
    EXPECT_TRUE(TrayIconPresent(tray)) << "the icon is shown before the skin check";
    Screenshot(L"missing-skin-message");
    PressBoxButton(box, IDOK);
    // The shutdown removes the icon while the process still has its window, then ends the process.
    EXPECT_TRUE(WaitFor([&] { return !TrayIconPresent(tray); }, 15000));
    EXPECT_TRUE(client.WaitExit(15000));
}

TEST(ClientStart, ProgramIconIsOne128PixelImageWith32BitsPerPixel) {
    HMODULE exe = LoadLibraryExW(ClientExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(exe, nullptr);
    HRSRC group = FindResourceW(exe, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    const BYTE* dir = static_cast<const BYTE*>(LockResource(LoadResource(exe, group)));
    ASSERT_NE(dir, nullptr);
    const WORD count = *reinterpret_cast<const WORD*>(dir + 4);
    EXPECT_EQ(count, 1);
    const BYTE* entry = dir + 6;  // width, height, colours, reserved, planes (2), bit count (2), bytes (4), id (2)
    EXPECT_EQ(entry[0], 128);
    EXPECT_EQ(entry[1], 128);
    EXPECT_EQ(*reinterpret_cast<const WORD*>(entry + 6), 32);
    FreeLibrary(exe);
}

TEST(ClientStart, ManifestDeclaresPerMonitorDpiAwarenessSystemsCommonControlsAndAsInvoker) {
    HMODULE exe = LoadLibraryExW(ClientExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(exe, nullptr);
    HRSRC found = FindResourceW(exe, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // the loader's manifest
    ASSERT_NE(found, nullptr);
    const char* text = static_cast<const char*>(LockResource(LoadResource(exe, found)));
    const std::string manifest(text, SizeofResource(exe, found));
    FreeLibrary(exe);
    for (const char* part : {"<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2",
                             "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm<",
                             "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                             "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
                             "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                             "level=\"asInvoker\""})
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
}

TEST(ClientStart, NormalStartSetsTheWebWindowUpOnceInOrder) {
    Running r;
    ASSERT_NE(r.main, nullptr);
    const int width = OpeningSize().cx, height = OpeningSize().cy;  // the design size at scale, fitted
    EXPECT_EQ(WindowRect(r.main).right - WindowRect(r.main).left, width);
    EXPECT_EQ(WindowRect(r.main).bottom - WindowRect(r.main).top, height);
    EXPECT_EQ(GetWindowLongW(r.main, GWL_STYLE) & (WS_CAPTION | WS_THICKFRAME), 0) << "borderless";
    wchar_t caption[64] = {};
    GetWindowTextW(r.main, caption, 64);
    EXPECT_STREQ(caption, kTitle);
    const RECT placed = WindowRect(r.main);
    EXPECT_EQ(placed.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2) << "centred";
    EXPECT_EQ(placed.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2) << "centred";
    EXPECT_TRUE(TrayIconPresent(r.client.TrayWindow()));
    auto log = ReadLog(r.client.log_path);
    const std::vector<std::string> expected = {"wkeInitializeEx", "wkeJsBindFunction", "wkeCreateWebWindow",
                                               "wkeShowWindow", "wkeOnLoadUrlBegin", "wkeOnCreateView",
                                               "wkeOnDownload", "wkeLoadFileW"};
    ASSERT_GE(log.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(log[i].name, expected[i]) << i;
    RECT inner{};
    GetClientRect(r.main, &inner);
    EXPECT_EQ(log[0].Int(0), 0u);
    EXPECT_EQ(log[1].Text(0), L"onJsCall");
    EXPECT_NE(log[1].Int(1), 0u);
    EXPECT_EQ(log[1].Int(2), 0u);
    EXPECT_EQ(log[1].Int(3), 2u);
    const auto& create = log[2];
    EXPECT_EQ(create.Int(0), 2u);
    EXPECT_EQ(create.Int(1), static_cast<std::uint32_t>(reinterpret_cast<UINT_PTR>(r.main)));
    EXPECT_EQ(create.Int(2), 0u);
    EXPECT_EQ(create.Int(3), 0u);
    EXPECT_EQ(create.Int(4), static_cast<std::uint32_t>(inner.right + 13));
    EXPECT_EQ(create.Int(5), static_cast<std::uint32_t>(inner.bottom));
    const std::uint32_t view = log[3].Int(0);
    EXPECT_NE(view, 0u);
    EXPECT_EQ(log[3].Int(1), 1u);
    for (int i = 4; i <= 6; ++i) {
        EXPECT_EQ(log[i].Int(0), view) << log[i].name;
        EXPECT_NE(log[i].Int(1), 0u) << log[i].name;
        EXPECT_EQ(log[i].Int(2), 0u) << log[i].name << ": user value 0";
    }
    const std::wstring address = log[7].Text(1);
    const std::wstring prefix = L"file:///" + InstalledBin() + L"\\skin\\Ui.html?";
    ASSERT_EQ(address.substr(0, prefix.size()), prefix);
    const std::wstring number = address.substr(prefix.size());
    ASSERT_FALSE(number.empty());
    EXPECT_LT(std::stod(number), 1.0);
    EXPECT_GE(std::stod(number), 0.0);
    Screenshot(L"main-window-demo-skin");
    // Later steps resize the window: what follows holds at the design scale's numbers.
    if (width != 1000) return;

    // A later activation repeats none of it.
    Client other(ClientExe(), L"not-the-token");
    HWND box = other.WaitMessageBox(30000);
    SetForegroundWindow(r.main);
    WaitFor([] { return false; }, 500);
    if (box) PressBoxButton(box, IDOK);
    auto names = Names(ReadLog(r.client.log_path));
    EXPECT_EQ(Count(names, "wkeInitializeEx"), 1);
    EXPECT_EQ(Count(names, "wkeCreateWebWindow"), 1);
    EXPECT_EQ(Count(names, "wkeLoadFileW"), 1);

    // A resize moves the web window to (0, 0) with the new size, 13 pixels wider.
    SetWindowPos(r.main, nullptr, 0, 0, 1100, 700, SWP_NOMOVE | SWP_NOZORDER);
    ASSERT_TRUE(WaitFor([&] { return ReadLog(r.client.log_path).back().name == "wkeMoveWindow"; }, 10000));
    auto move = ReadLog(r.client.log_path).back();
    EXPECT_EQ(move.Int(0), view);
    EXPECT_EQ(move.Int(1), 0u);
    EXPECT_EQ(move.Int(2), 0u);
    EXPECT_EQ(move.Int(3), 1113u);
    EXPECT_EQ(move.Int(4), 700u);
}

TEST(ClientStart, NewViewStaysInTheSameViewAndADownloadAlertsZero) {
    Running r;
    const std::uint32_t view = ReadLog(r.client.log_path)[3].Int(0);
    EXPECT_EQ(static_cast<std::uint32_t>(r.client.Standin(L"fire\twkeOnCreateView\turl=http://example.test/new")), view);
    r.client.Standin(L"fire\twkeOnDownload\turl=http://example.test/file.zip");
    auto log = ReadLog(r.client.log_path);
    ASSERT_EQ(log.back().name, "wkeRunJS");
    EXPECT_EQ(log.back().Int(0), view);
    EXPECT_EQ(log.back().Text(1), L"return alert('0');");
}

TEST(PageCommands, MaximiseByPageCommandsAndRestoreExactly) {
    Running r;
    const RECT before = WindowRect(r.main);
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    r.Page(L"btn", L"MAXIMIZE");
    RECT max = WindowRect(r.main);
    EXPECT_EQ(max.left, 0);
    EXPECT_EQ(max.top, 0);
    EXPECT_EQ(max.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(max.bottom, work.bottom);
    Screenshot(L"main-window-maximised");
    EXPECT_EQ(r.client.Standin(L"click\tMaximize"), 1);  // the drawn button, clicked as a user would
    RECT back = WindowRect(r.main);
    EXPECT_TRUE(EqualRect(&back, &before));
    auto log = ReadLog(r.client.log_path);
    ASSERT_EQ(log.back().name, "wkeMoveWindow");
    EXPECT_EQ(log.back().Int(3), 1013u);
    r.Page(L"BTN", L"maximize");
    back = WindowRect(r.main);
    EXPECT_TRUE(EqualRect(&back, &before)) << "group in capitals does nothing";
}

TEST(PageCommands, UnknownCommandsAndOneArgumentCallsDoNothing) {
    Running r;
    const RECT before = WindowRect(r.main);
    const std::size_t entries = ReadLog(r.client.log_path).size();
    r.Page(L"btn", L"explode");
    r.client.Standin(L"call\tonJsCall\tbtn");
    r.client.Standin(L"call\tonJsCall\tmaximize");
    RECT after = WindowRect(r.main);
    EXPECT_TRUE(EqualRect(&before, &after));
    EXPECT_EQ(r.client.MessageBoxWindow(), nullptr);
    EXPECT_TRUE(r.client.Running());
    EXPECT_TRUE(IsWindowVisible(r.main));
    EXPECT_EQ(r.client.CountWindows(L"VantorixWindowdc", false), 0);
    // Only the argument reads of the three calls reached the engine.
    const auto log = ReadLog(r.client.log_path);
    ASSERT_GE(log.size(), entries);
    for (auto e = log.begin() + entries; e != log.end(); ++e)
        EXPECT_TRUE(e->name == "jsArg" || e->name == "jsArgCount" || e->name == "jsToTempStringW") << e->name;
}

TEST(PageCommands, MinimiseAndMoveWithTheMouse) {
    Running r;
    const RECT before = WindowRect(r.main);
    // "move": the user holds the button on the page's title; the system move loop follows the mouse.
    std::thread hand = DragAfterPress(r.main, 60, 40);
    PressPageElement(r.main, L"Move");
    hand.join();
    WaitFor([] { return false; }, 300);
    RECT moved = WindowRect(r.main);
    EXPECT_EQ(moved.left - before.left, 60);
    EXPECT_EQ(moved.top - before.top, 40);
    EXPECT_EQ(moved.right - moved.left, before.right - before.left);

    r.Page(L"btn", L"minimize");
    EXPECT_TRUE(WaitFor([&] { return IsIconic(r.main) != FALSE; }, 5000));
}

TEST(PageCommands, ShrinkmizeHidesAndATrayClickShowsThePageAgain) {
    Running r;
    const std::size_t loads = Count(Names(ReadLog(r.client.log_path)), "wkeLoadFileW");
    r.Page(L"btn", L"shrinkmize");
    EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(r.main); }, 5000));
    EXPECT_TRUE(TrayIconPresent(r.client.TrayWindow()));
    Screenshot(L"tray-icon-while-hidden");
    POINT icon{};
    ASSERT_TRUE(TrayIconCentre(0, &icon));
    Click(icon.x, icon.y);
    EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(r.main) != FALSE; }, 10000)) << "the tray's left click shows it";
    auto names = Names(ReadLog(r.client.log_path));
    EXPECT_EQ(static_cast<std::size_t>(Count(names, "wkeLoadFileW")), loads) << "the page was not reloaded";
    EXPECT_EQ(Count(names, "wkeCreateWebWindow"), 1);
}

TEST(PageCommands, WindowdcTwiceGivesOnePickerAndCloseEndsEverything) {
    Running r;
    r.Page(L"btn", L"windowdc");
    r.Page(L"btn", L"WindowDC");
    EXPECT_EQ(r.client.CountWindows(L"VantorixWindowdc", true), 1);
    HWND picker = r.client.Window(L"VantorixWindowdc", true);
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(SendMessageW(picker, WM_GETICON, ICON_BIG, 0), SendMessageW(r.main, WM_GETICON, ICON_BIG, 0))
        << "the picker shows the main window's icon";
    // Sampling, over the page.
    SendMessageW(GetDlgItem(picker, 103), BM_CLICK, 0, 0);
    MouseTo(300, 200);
    auto coordinates = [picker] {
        wchar_t text[64] = {};
        GetWindowTextW(GetDlgItem(picker, 105), text, 64);
        return std::wstring(text);
    };
    EXPECT_TRUE(WaitFor([&] { return coordinates() == L"坐标(300,200)"; }, 5000)) << "sampling";
    WaitFor([] { return false; }, 800);  // let the picker paint what it read
    Screenshot(L"colour-picker-sampling");
    HWND tray = r.client.TrayWindow();
    r.Page(L"btn", L"close");
    EXPECT_TRUE(r.client.WaitExit(15000));
    EXPECT_FALSE(TrayIconPresent(tray));
}

TEST(ExitPaths, AltF4CloseMessageAndSessionEndAllRunTheShutdown) {
    struct Case { const char* what; std::function<void(HWND)> close; } cases[] = {
        {"Alt+F4", [](HWND main) {
             SetForegroundWindow(main);
             Sleep(300);
             INPUT in[4]{};
             in[0].type = in[1].type = in[2].type = in[3].type = INPUT_KEYBOARD;
             in[0].ki.wVk = VK_MENU;
             in[1].ki.wVk = VK_F4;
             in[2].ki.wVk = VK_F4;
             in[2].ki.dwFlags = KEYEVENTF_KEYUP;
             in[3].ki.wVk = VK_MENU;
             in[3].ki.dwFlags = KEYEVENTF_KEYUP;
             SendInput(4, in, sizeof(INPUT));
         }},
        {"close message", [](HWND main) { PostMessageW(main, WM_CLOSE, 0, 0); }},
        {"session end", [](HWND main) {
             DWORD_PTR ignored;
             SendMessageTimeoutW(main, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 5000, &ignored);
             PostMessageW(main, WM_ENDSESSION, TRUE, 0);
         }},
    };
    for (const auto& c : cases) {
        Running r;
        ASSERT_NE(r.main, nullptr) << c.what;
        HWND tray = r.client.TrayWindow();
        ASSERT_TRUE(TrayIconPresent(tray)) << c.what;
        c.close(r.main);
        EXPECT_TRUE(r.client.WaitExit(15000)) << c.what;
        EXPECT_FALSE(TrayIconPresent(tray)) << c.what;
    }
}

TEST(TrayMenu, RightClickOpensTheMenuAndQuitEndsAHiddenClient) {
    Running r;
    r.Page(L"btn", L"shrinkmize");
    WaitFor([&] { return !IsWindowVisible(r.main); }, 5000);
    POINT icon{};
    ASSERT_TRUE(TrayIconCentre(0, &icon));
    Click(icon.x, icon.y, true);
    HWND menu = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (menu = FindWindowW(L"#32768", nullptr)) && IsWindowVisible(menu); }, 10000));
    RECT m = WindowRect(menu);
    EXPECT_LE(std::abs(m.left - icon.x), 4) << "the menu opens at the mouse position";
    WaitFor([] { return false; }, 800);  // let it paint
    Screenshot(L"tray-menu-open");
    // A click elsewhere closes it.
    Click(900, 600);
    EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(menu) || !IsWindow(menu); }, 10000));
    EXPECT_TRUE(r.client.Running());
    // Open it again and choose the last line, "退出".
    Click(icon.x, icon.y, true);
    ASSERT_TRUE(WaitFor([&] { return (menu = FindWindowW(L"#32768", nullptr)) && IsWindowVisible(menu); }, 10000));
    HWND tray = r.client.TrayWindow();
    Keys({VK_UP, VK_RETURN});  // the last line
    EXPECT_TRUE(r.client.WaitExit(15000));
    EXPECT_FALSE(TrayIconPresent(tray));
}

TEST(Update, LauncherBesideTheBinFolderIsStartedOnceWithUpdate) {
    const std::wstring launcher = Root() + L"\\Vantorix Assist\\VantorixAssist.exe";
    const std::wstring records = Root() + L"\\records.txt";
    ASSERT_TRUE(CopyFileTo(Root() + L"\\recorder.exe", launcher));
    RemoveFile(records);
    {
        Running r;
        r.Page(L"btn", L"updateme");
        ASSERT_TRUE(WaitFor([&] { return !ReadFileUtf8(records).empty(); }, 15000));
        WaitFor([] { return false; }, 1500);
        EXPECT_TRUE(r.client.Running()) << "the client keeps running";
        EXPECT_EQ(r.client.MessageBoxWindow(), nullptr);
    }
    RemoveFile(launcher);
    const std::string recorded = ReadFileUtf8(records);
    // One start, of the launcher itself (not the decoy "Vantorix.exe" a cut-off path would name), with the
    // program path quoted and the argument kept.
    EXPECT_EQ(std::count(recorded.begin(), recorded.end(), '\n'), 1) << recorded;
    EXPECT_EQ(recorded.find("Vantorix.exe|"), std::string::npos) << recorded;
    EXPECT_NE(recorded.find("VantorixAssist.exe|\""), std::string::npos) << recorded;
    EXPECT_NE(recorded.find("VantorixAssist.exe\" -update"), std::string::npos) << recorded;
}

TEST(Update, MissingLauncherAsksAndOnlyYesOpensTheHomePage) {
    const std::wstring records = Root() + L"\\records.txt";
    RemoveFile(records);
    RemoveFile(Root() + L"\\Vantorix Assist\\VantorixAssist.exe");
    Running r;
    for (int answer : {IDNO, IDYES}) {
        std::thread page([&] { r.Page(L"btn", L"updateme"); });
        HWND box = r.client.WaitMessageBox(15000);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(BoxText(box), L"未找到更新程式，是否从官网重新下载？");
        PressBoxButton(box, answer);
        page.join();
        WaitFor([&] { return !ReadFileUtf8(records).empty(); }, answer == IDYES ? 15000 : 3000);
        const std::string recorded = ReadFileUtf8(records);
        if (answer == IDNO)
            EXPECT_TRUE(recorded.empty()) << recorded;
        else
            EXPECT_NE(recorded.find("https://www.vantorix.com/"), std::string::npos) << recorded;
    }
}

TEST(Update, CheckForUpdatesOutsideABinFolderLooksInTheParentAndAsks) {
    Client client(Root() + L"\\flat\\client.exe", kToken);
    HWND main = client.WaitMainVisible(30000);
    ASSERT_NE(main, nullptr);
    client.WaitStandin(30000);
    POINT icon{};
    ASSERT_TRUE(TrayIconCentre(0, &icon));
    Click(icon.x, icon.y, true);
    HWND menu = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (menu = FindWindowW(L"#32768", nullptr)) && IsWindowVisible(menu); }, 10000));
    // Down to the third line that can be chosen (the separator is skipped): "检查更新".
    Keys({VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN});
    HWND box = client.WaitMessageBox(15000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(BoxText(box), L"未找到更新程式，是否从官网重新下载？");
    PressBoxButton(box, IDNO);
}

TEST(PageCommands, SupportButtonsOpenTheMakersAddresses) {
    const std::wstring records = Root() + L"\\records.txt";
    Running r;
    struct Case { const wchar_t* command; const char* address; } cases[] = {
        {L"qgroup", "https://qm.qq.com/cgi-bin/qm/qr?k=vantorix-users"},
        {L"service_btn", "tencent://message/?uin="},
    };
    for (const auto& c : cases) {
        RemoveFile(records);
        r.Page(L"btn", c.command);
        EXPECT_TRUE(WaitFor([&] { return ReadFileUtf8(records).find(c.address) != std::string::npos; }, 15000))
            << ReadFileUtf8(records);
        EXPECT_TRUE(r.client.Running());
    }
}

TEST(PageCommands, EdgeZoneResizesTheBorderlessWindowAndTwoArgumentsOnlyReleaseTheCapture) {
    Running r;
    const RECT before = WindowRect(r.main);
    // Two arguments: the zone is "btn", which names none; the call returns at once and nothing moves.
    const DWORD start = GetTickCount();
    r.Page(L"btn", L"mousedown");
    EXPECT_LT(GetTickCount() - start, 5000u);
    RECT after = WindowRect(r.main);
    EXPECT_TRUE(EqualRect(&before, &after));
    // The skin's bottom-right zone passes "se-resize": the user drags the corner 50 x 30 further out.
    std::thread hand = DragAfterPress(r.main, 50, 30);
    PressPageElement(r.main, L"Resize SE");
    hand.join();
    WaitFor([] { return false; }, 300);
    after = WindowRect(r.main);
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.top, before.top);
    EXPECT_EQ(after.right - before.right, 50);
    EXPECT_EQ(after.bottom - before.bottom, 30);
    auto log = ReadLog(r.client.log_path);
    ASSERT_EQ(log.back().name, "wkeMoveWindow");
    RECT inner{};
    GetClientRect(r.main, &inner);
    EXPECT_EQ(log.back().Int(3), static_cast<std::uint32_t>(inner.right + 13));
}

namespace {
// Every engine-window move the client asked for, as (width, height).
std::vector<std::pair<std::uint32_t, std::uint32_t>> EngineMoves(const std::wstring& log_path) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> moves;
    for (const auto& e : ReadLog(log_path))
        if (e.name == "wkeMoveWindow") moves.emplace_back(e.Int(3), e.Int(4));
    return moves;
}

bool RestoredInFront(HWND main) {
    return IsWindowVisible(main) && !IsIconic(main) && GetForegroundWindow() == main;
}

void ClickTrayIcon() {
    // A click of its own, never the second half of a double click with the one before.
    Sleep(GetDoubleClickTime() + 100);
    POINT icon{};
    ASSERT_TRUE(TrayIconCentre(0, &icon));
    Click(icon.x, icon.y);
}
}  // namespace

TEST(TrayAndMinimise, StartedMinimisedATrayClickRestoresThePageAtItsRestoredSize) {
    // As the launcher starts it: minimised, with the focus.
    Client client(ClientExe(), kToken, true, SW_SHOWMINIMIZED);
    HWND main = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (main = client.MainWindow()) && IsWindowVisible(main); }, 30000));
    EXPECT_TRUE(IsIconic(main));
    ASSERT_TRUE(client.WaitStandin(30000)) << "the web view is set up at the first activation, while minimised";
    ASSERT_TRUE(WaitFor([&] { return Count(Names(ReadLog(client.log_path)), "wkeLoadFileW") == 1; }, 20000));
    for (const auto& e : ReadLog(client.log_path))
        if (e.name == "wkeCreateWebWindow") {
            EXPECT_EQ(e.Int(4), static_cast<std::uint32_t>(OpeningSize().cx + 13)) << "the restored width + 13";
            EXPECT_EQ(e.Int(5), static_cast<std::uint32_t>(OpeningSize().cy));
        }
    for (int round = 0; round < 2; ++round) {
        ClickTrayIcon();
        EXPECT_TRUE(WaitFor([&] { return RestoredInFront(main); }, 10000))
            << "round " << round << ": visible " << IsWindowVisible(main) << ", minimised " << IsIconic(main)
            << ", in front " << (GetForegroundWindow() == main);
        const RECT placed = WindowRect(main);
        EXPECT_EQ(placed.right - placed.left, OpeningSize().cx) << "round " << round;
        EXPECT_EQ(placed.bottom - placed.top, OpeningSize().cy) << "round " << round;
        RECT engine{};
        GetClientRect(client.EngineWindow(), &engine);
        EXPECT_EQ(engine.right, OpeningSize().cx + 13) << "round " << round;
        EXPECT_EQ(engine.bottom, OpeningSize().cy) << "round " << round;
        if (round == 0) Screenshot(L"restored-from-minimised-start");
        // Minimised by the page again: the engine window keeps its size all the while.
        client.Standin(L"call\tonJsCall\tbtn\tminimize");
        ASSERT_TRUE(WaitFor([&] { return IsIconic(main) != FALSE; }, 5000));
        GetClientRect(client.EngineWindow(), &engine);
        EXPECT_EQ(engine.right, OpeningSize().cx + 13) << "minimising does not shrink the engine window";
    }
    const auto names = Names(ReadLog(client.log_path));
    EXPECT_EQ(Count(names, "wkeLoadFileW"), 1) << "the page is intact, never reloaded";
    EXPECT_EQ(Count(names, "wkeCreateWebWindow"), 1);
    EXPECT_TRUE(EngineMoves(client.log_path).empty()) << "neither minimising nor restoring moved the engine window";
}

TEST(OneInstance, ASecondStartBringsTheRunningWindowForwardAndEndsWithoutItsOwnIcon) {
    Running r;
    ASSERT_NE(r.main, nullptr);
    const wchar_t* away[] = {L"shrinkmize", L"minimize"};  // hidden to the tray, then minimised
    for (const wchar_t* how : away) {
        r.Page(L"btn", how);
        ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(r.main) || IsIconic(r.main); }, 5000)) << how;
        Client second(ClientExe(), kToken);
        bool showed_window = false, showed_icon = false;
        const bool ended = WaitFor([&] {
            showed_window = showed_window || second.Window(L"VantorixMainForm", true) != nullptr;
            HWND tray = second.TrayWindow();
            showed_icon = showed_icon || (tray && TrayIconPresent(tray));
            return !second.Running();
        }, 30000);
        EXPECT_TRUE(ended) << how << ": the second start ends by itself";
        EXPECT_FALSE(showed_window) << how;
        EXPECT_FALSE(showed_icon) << how;
        EXPECT_TRUE(WaitFor([&] { return RestoredInFront(r.main); }, 10000)) << how << ": the first window comes back";
    }
    EXPECT_EQ(Count(Names(ReadLog(r.client.log_path)), "wkeLoadFileW"), 1);
    EXPECT_TRUE(TrayIconPresent(r.client.TrayWindow()));
    // Without the token a start still refuses, whether or not a client runs.
    Client refused(ClientExe(), L"");
    HWND box = refused.WaitMessageBox(30000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(BoxText(box), L"无法启动应用程序");
    PressBoxButton(box, IDOK);
    EXPECT_TRUE(refused.WaitExit(15000));
}

namespace {

std::wstring UserSid() {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    BYTE buffer[256];
    DWORD size = 0;
    wchar_t* text = nullptr;
    std::wstring sid;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text))
        sid = text;
    LocalFree(text);
    CloseHandle(token);
    return sid;
}

LRESULT CALLBACK AnswerLikeAClient(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    using vantorix::win::InstanceClaim;
    if (message == InstanceClaim::kClaimQuery) return InstanceClaim::kClaimAnswer;
    return DefWindowProcW(window, message, wparam, lparam);
}

// Another program that makes the client's instance object before the client starts, with the security
// given, and may put a window of its own in it: one of the client's class that answers a start's question
// as a running client does, on a thread of its own that keeps answering.
class Squatter {
public:
    Squatter(const std::wstring& security, bool with_window) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ConvertStringSecurityDescriptorToSecurityDescriptorW(security.c_str(), SDDL_REVISION_1, &descriptor, nullptr);
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        section_ = CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, 4,
                                      vantorix::win::InstanceClaim::ObjectName(L"VantorixClient", InstalledBin()).c_str());
        LocalFree(descriptor);
        if (!with_window) return;
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([this, ready] {
            WNDCLASSW wc{};
            wc.lpfnWndProc = &AnswerLikeAClient;
            wc.lpszClassName = L"VantorixMainForm";
            RegisterClassW(&wc);
            window_ = CreateWindowW(L"VantorixMainForm", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
            thread_id_ = GetCurrentThreadId();
            SetEvent(ready);
            MSG m;
            while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
            DestroyWindow(window_);
        });
        WaitForSingleObject(ready, 10000);
        CloseHandle(ready);
        if (void* view = MapViewOfFile(section_, FILE_MAP_WRITE, 0, 0, 4)) {
            *static_cast<volatile LONG*>(view) = static_cast<LONG>(reinterpret_cast<UINT_PTR>(window_));
            UnmapViewOfFile(view);
        }
    }
    ~Squatter() {
        if (thread_.joinable()) {
            PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
            thread_.join();
        }
        if (section_) CloseHandle(section_);
    }
    bool made() const { return section_ != nullptr; }

private:
    HANDLE section_ = nullptr;
    std::thread thread_;
    HWND window_ = nullptr;
    DWORD thread_id_ = 0;
};

}  // namespace

// A mutex under the client's instance object's name: the name can hold no section at all.
class MutexSquatter {
public:
    MutexSquatter()
        : mutex_(CreateMutexW(nullptr, FALSE,
                              vantorix::win::InstanceClaim::ObjectName(L"VantorixClient", InstalledBin()).c_str())) {}
    ~MutexSquatter() {
        if (mutex_) CloseHandle(mutex_);
    }
    bool made() const { return mutex_ != nullptr; }

private:
    HANDLE mutex_;
};

// Any program of the session may make the client's instance object first, empty, holding a window of its
// own that answers like a client, owned by another account, or as another kind of object: the client
// starts all the same, and a later start still comes to it instead of making a second client. An object of
// the user's own it takes over; where the name cannot serve, a later start finds it by its window.
TEST(OneInstance, AnInstanceObjectMadeByAnotherProgramNeverKeepsTheClientFromStarting) {
    const std::wstring user = UserSid();
    ASSERT_FALSE(user.empty());
    const std::wstring users_own = L"O:" + user + L"D:(A;;GA;;;" + user + L")";
    const struct { const char* what; std::wstring security; bool window, mutex; } cases[] = {
        {"empty, the user's own", users_own, false, false},
        {"holding another program's window that answers like a client", users_own, true, false},
        {"another account's, open to everyone", L"O:SYD:(A;;GA;;;WD)", false, false},
        {"another account's, closed to the user", L"O:SYD:(A;;GA;;;SY)", false, false},
        {"a mutex of that name", L"", false, true},
    };
    for (const auto& c : cases) {
        std::optional<Squatter> squatter;
        std::optional<MutexSquatter> mutex;
        if (c.mutex) {
            mutex.emplace();
            ASSERT_TRUE(mutex->made()) << c.what;
        } else {
            squatter.emplace(c.security, c.window);
            ASSERT_TRUE(squatter->made()) << c.what;
        }
        Client client(ClientExe(), kToken);
        EXPECT_NE(client.WaitMainVisible(60000), nullptr) << c.what;
        ASSERT_TRUE(client.Running()) << c.what << ": the client ended instead of starting";
        Client second(ClientExe(), kToken);
        EXPECT_TRUE(second.WaitExit(60000)) << c.what << ": a later start hands over to the running client";
        EXPECT_TRUE(client.Running()) << c.what;
    }
}

TEST(Keyboard, KeysTypedAfterATrayRestoreReachThePage) {
    Running r;
    r.Page(L"btn", L"shrinkmize");
    ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(r.main); }, 5000));
    ClickTrayIcon();
    // In front is not yet focused: the client moves the focus to the page while it handles its activation,
    // and Wine gives a typed key to the window that has the focus when the key is queued.
    const auto pageHasTheFocus = [&] {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        return GetGUIThreadInfo(GetWindowThreadProcessId(r.main, nullptr), &info) && info.hwndFocus &&
               info.hwndFocus == GetWindow(r.main, GW_CHILD);
    };
    ASSERT_TRUE(WaitFor([&] { return RestoredInFront(r.main) && pageHasTheFocus(); }, 10000))
        << "the page did not get the focus after the restore";
    Keys({'K', 'E', 'Y'});  // the stand-in engine notes each typed character as "#key <code>"
    EXPECT_TRUE(WaitFor([&] {
        const std::string log = ReadFileUtf8(r.client.log_path);
        return log.find("#key 107") != std::string::npos && log.find("#key 101") != std::string::npos &&
               log.find("#key 121") != std::string::npos;
    }, 10000)) << "no click on the page was needed";
}

TEST(Keyboard, TabMovesBetweenThePickersControlsAndEscClosesIt) {
    Running r;
    r.Page(L"btn", L"windowdc");
    HWND picker = r.client.Window(L"VantorixWindowdc", true);
    ASSERT_NE(picker, nullptr);
    auto focus = [picker] {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(picker, nullptr), &info);
        return info.hwndFocus;
    };
    // "开始", "窗口置顶", then the first text box (control ids 103, 104, 106).
    ASSERT_TRUE(WaitFor([&] { return focus() == GetDlgItem(picker, 103); }, 10000)) << "the first control has it";
    Keys({VK_TAB});
    EXPECT_TRUE(WaitFor([&] { return focus() == GetDlgItem(picker, 104); }, 5000));
    Keys({VK_TAB});
    EXPECT_TRUE(WaitFor([&] { return focus() == GetDlgItem(picker, 106); }, 5000));
    Keys({VK_ESCAPE});
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(picker); }, 5000)) << "Esc closes the picker";
    EXPECT_TRUE(r.client.Running());
    EXPECT_TRUE(IsWindowVisible(r.main));
}
