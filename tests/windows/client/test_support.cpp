#include "test_support.h"

#include <shellapi.h>
#include <winternl.h>

#include <cstdint>
#include <thread>

namespace client_test {
namespace {
// The client declares per-monitor DPI awareness in its manifest; its parts are tested as it runs them.
const bool g_dpi_aware = SetProcessDPIAware() != FALSE;

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_ERASEBKGND) {
        RECT r;
        GetClientRect(window, &r);
        FillRect(reinterpret_cast<HDC>(wparam), &r, reinterpret_cast<HBRUSH>(GetWindowLongPtrW(window, GWLP_USERDATA)));
        return 1;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

bool DpiAware() { return g_dpi_aware; }

int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dpi;
}

PlainWindow::PlainWindow(int x, int y, int width, int height, COLORREF color, bool shown) {
    static ATOM atom = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = PlainProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"ClientTestPlain";
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        return RegisterClassW(&wc);
    }();
    (void)atom;
    brush_ = CreateSolidBrush(color);
    window_ = CreateWindowExW(WS_EX_TOOLWINDOW, L"ClientTestPlain", L"plain", WS_POPUP, x, y, width, height, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(brush_));
    if (shown) {
        ShowWindow(window_, SW_SHOW);
        UpdateWindow(window_);
        Pump(100);
    }
}

PlainWindow::~PlainWindow() {
    DestroyWindow(window_);
    DeleteObject(brush_);
}

RECT PlainWindow::rect() const {
    RECT r{};
    GetWindowRect(window_, &r);
    return r;
}

void Pump(int ms) {
    PumpUntil([] { return false; }, ms);
}

bool PumpUntil(const std::function<bool()>& done, int ms) {
    const DWORD end = GetTickCount() + ms;
    for (;;) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        if (done()) return true;
        if (static_cast<LONG>(GetTickCount() - end) >= 0) return done();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void Later(int delay_ms, std::function<void()> action) {
    std::thread([delay_ms, action = std::move(action)] {
        Sleep(delay_ms);
        action();
    }).detach();
}

void MouseTo(int x, int y) {
    SetCursorPos(x, y);
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    in.mi.dy = y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &in, sizeof in);
}

void MouseButton(bool down) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    SendInput(1, &in, sizeof in);
}

void CtrlAltD() {
    INPUT in[6]{};
    const WORD keys[3] = {VK_CONTROL, VK_MENU, 'D'};
    for (int i = 0; i < 3; ++i) {
        in[i].type = INPUT_KEYBOARD;
        in[i].ki.wVk = keys[i];
        in[5 - i].type = INPUT_KEYBOARD;
        in[5 - i].ki.wVk = keys[i];
        in[5 - i].ki.dwFlags = KEYEVENTF_KEYUP;
    }
    SendInput(6, in, sizeof(INPUT));
}

bool TrayIconPresent(HWND owner) {
    NOTIFYICONDATAA probe{};
    probe.cbSize = 488;
    probe.hWnd = owner;
    probe.uID = 0;
    probe.uFlags = 0;  // changes nothing: succeeds only for a known icon
    return Shell_NotifyIconA(NIM_MODIFY, &probe) != FALSE;
}

namespace {

// Wine keeps GDI handles in a table shared with the process (the PEB's GDI handle table); an entry is
// 24 bytes: object (8), owner (4: process id in the low 16 bits, count), unique (2), type (1), flags (1),
// user pointer (8). A handle is unique << 16 | index. The layout is checked against a live object first.
struct WineGdiEntry {
    std::uint64_t object;
    std::uint32_t owner;
    std::uint16_t unique;
    std::uint8_t type;
    std::uint8_t flags;
    std::uint64_t user;
};
static_assert(sizeof(WineGdiEntry) == 24, "Wine's GDI handle entry");

// NtCurrentTeb() written out: the TEB's own address from FS:[0x18]. The header's version reads it through
// __readfsdword, whose pointer operand GCC's -Warray-bounds takes for an access to address 0x18.
TEB* CurrentTeb() {
    TEB* teb;
    __asm__ __volatile__("movl %%fs:0x18, %0" : "=r"(teb));
    return teb;
}

const WineGdiEntry* WineGdiTable() {
    auto* peb = reinterpret_cast<const std::uint8_t*>(CurrentTeb()->ProcessEnvironmentBlock);
    auto* table = *reinterpret_cast<const WineGdiEntry* const*>(peb + 0x94);  // GdiSharedHandleTable, 32-bit PEB
    if (!table) return nullptr;
    HBRUSH probe = CreateSolidBrush(RGB(1, 2, 3));
    const auto handle = reinterpret_cast<std::uintptr_t>(probe);
    const WineGdiEntry& entry = table[handle & 0xFFFF];
    const bool layout_ok = entry.unique == (handle >> 16) && entry.type != 0 && entry.object != 0;
    DeleteObject(probe);
    return layout_ok ? table : nullptr;
}

}  // namespace

long GdiObjectCount() {
    const DWORD system_count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (system_count != 0) return static_cast<long>(system_count);
    const WineGdiEntry* table = WineGdiTable();
    if (!table) return -1;
    // The table belongs to this process alone (Wine keeps GDI objects in-process).
    long count = 0;
    for (int i = 0; i < 0x10000; ++i)
        if (table[i].type != 0) ++count;
    return count;
}

namespace {
BOOL CALLBACK CountChild(HWND, LPARAM p) {
    ++*reinterpret_cast<long*>(p);
    return TRUE;
}
BOOL CALLBACK CountTopLevel(HWND window, LPARAM p) {
    ++*reinterpret_cast<long*>(p);
    EnumChildWindows(window, CountChild, p);
    return TRUE;
}
}  // namespace

long WindowCount() {
    long count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountTopLevel, reinterpret_cast<LPARAM>(&count));
    return count;
}

std::wstring WindowText(HWND window) {
    wchar_t buffer[512] = {};
    GetWindowTextW(window, buffer, 512);
    return buffer;
}

}  // namespace client_test
