#include "driver_support.h"

#include <shellapi.h>

#include "engine-standin/standin_locate.h"

#include <algorithm>
#include <sstream>

namespace client_e2e {

std::wstring Env(const wchar_t* name) {
    wchar_t buffer[2048] = {};
    DWORD n = GetEnvironmentVariableW(name, buffer, 2048);
    return std::wstring(buffer, n < 2048 ? n : 0);
}

std::wstring Root() { return Env(L"CLIENT_E2E_ROOT"); }
std::wstring InstalledBin() { return Root() + L"\\Vantorix Assist\\bin"; }

namespace {
std::vector<unsigned char> Bytes(const std::string& hex) {
    std::vector<unsigned char> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}
std::wstring FromUtf8(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}
std::string ToUtf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}
}  // namespace

std::uint32_t LogEntry::Int(std::size_t i) const {
    if (i >= args.size()) return 0;
    auto b = Bytes(args[i].second);
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < b.size() && k < 4; ++k) v |= static_cast<std::uint32_t>(b[k]) << (8 * k);
    return v;
}

std::wstring LogEntry::Text(std::size_t i) const {
    if (i >= args.size()) return {};
    auto b = Bytes(args[i].second);
    if (args[i].first == 'w') {
        std::wstring w;
        for (std::size_t k = 0; k + 1 < b.size(); k += 2) w += static_cast<wchar_t>(b[k] | (b[k + 1] << 8));
        return w;
    }
    return FromUtf8(std::string(b.begin(), b.end()));
}

std::string ReadFileUtf8(const std::wstring& path) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return {};
    std::string data;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(f, buffer, sizeof buffer, &n, nullptr) && n > 0) data.append(buffer, n);
    CloseHandle(f);
    return data;
}

void RemoveFile(const std::wstring& path) { DeleteFileW(path.c_str()); }
bool CopyFileTo(const std::wstring& from, const std::wstring& to) { return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE; }

std::vector<LogEntry> ReadLog(const std::wstring& path) {
    std::vector<LogEntry> log;
    std::istringstream in(ReadFileUtf8(path));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;  // the control window's own lines
        std::istringstream words(line);
        LogEntry e;
        words >> e.name;
        std::string arg;
        while (words >> arg) {
            auto eq = arg.find('=');
            if (eq == 1) e.args.emplace_back(arg[0], arg.substr(2) == "null" ? std::string() : arg.substr(2));
        }
        log.push_back(std::move(e));
    }
    return log;
}

std::vector<std::string> Names(const std::vector<LogEntry>& log) {
    std::vector<std::string> names;
    for (const auto& e : log) names.push_back(e.name);
    return names;
}

Client::Client(const std::wstring& exe, const std::wstring& arguments, bool with_blank, int show_command) {
    std::wstring line = L"\"" + exe + L"\"" + (with_blank ? L" " : L"") + arguments;
    if (!log_path.empty()) {}
    static int serial = 0;
    log_path = Root() + L"\\engine-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial) + L".log";
    RemoveFile(log_path);
    SetEnvironmentVariableW(L"VANTORIX_STANDIN_LOG", log_path.c_str());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (show_command >= 0) {
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = static_cast<WORD>(show_command);
    }
    std::wstring folder = exe.substr(0, exe.find_last_of(L'\\'));
    CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &info_);
}

Client::~Client() {
    if (info_.hProcess) {
        if (Running()) {
            TerminateProcess(info_.hProcess, 99);
            WaitForSingleObject(info_.hProcess, 5000);
        }
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
    }
}

bool Client::Running() const { return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }
bool Client::WaitExit(int ms) const { return info_.hProcess && WaitForSingleObject(info_.hProcess, ms) == WAIT_OBJECT_0; }

namespace {
struct FindState {
    DWORD pid;
    const wchar_t* cls;
    bool visible_only;
    std::vector<HWND> found;
};
BOOL CALLBACK FindWindows(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<FindState*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != s->pid) return TRUE;
    wchar_t cls[128] = {};
    GetClassNameW(w, cls, 128);
    if (std::wstring(cls) == s->cls && (!s->visible_only || IsWindowVisible(w))) s->found.push_back(w);
    return TRUE;
}
}  // namespace

HWND Client::Window(const wchar_t* window_class, bool visible_only) const {
    FindState s{pid(), window_class, visible_only, {}};
    EnumWindows(FindWindows, reinterpret_cast<LPARAM>(&s));
    return s.found.empty() ? nullptr : s.found.front();
}

int Client::CountWindows(const wchar_t* window_class, bool visible_only) const {
    FindState s{pid(), window_class, visible_only, {}};
    EnumWindows(FindWindows, reinterpret_cast<LPARAM>(&s));
    return static_cast<int>(s.found.size());
}

HWND Client::WaitMessageBox(int ms) const {
    HWND box = nullptr;
    WaitFor([&] { return (box = MessageBoxWindow()) != nullptr; }, ms);
    return box;
}

HWND Client::WaitMainVisible(int ms) const {
    HWND w = nullptr;
    WaitFor([&] { return (w = Window(L"VantorixMainForm", true)) != nullptr; }, ms);
    return w;
}

LRESULT Client::Standin(const std::wstring& command, int timeout_ms) const {
    HWND control = standin::FindControlWindow(pid());
    if (!control) return -2;
    std::string utf8 = ToUtf8(command);
    COPYDATASTRUCT data{0x43545356u, static_cast<DWORD>(utf8.size()), utf8.data()};
    DWORD_PTR result = static_cast<DWORD_PTR>(-3);
    SendMessageTimeoutW(control, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL, timeout_ms, &result);
    return static_cast<LRESULT>(result);
}

bool Client::WaitStandin(int ms) const {
    return WaitFor([&] { return standin::FindControlWindow(pid()) != nullptr; }, ms);
}

std::wstring BoxText(HWND box) {
    wchar_t text[1024] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 1024);
    return text;
}

void PressBoxButton(HWND box, int id) { PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

bool WaitFor(const std::function<bool()>& done, int ms) {
    const DWORD end = GetTickCount() + ms;
    for (;;) {
        if (done()) return true;
        if (static_cast<LONG>(GetTickCount() - end) >= 0) return done();
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
        Sleep(50);
    }
}

bool TrayIconPresent(HWND owner) {
    NOTIFYICONDATAA probe{};
    probe.cbSize = 488;
    probe.hWnd = owner;
    return Shell_NotifyIconA(NIM_MODIFY, &probe) != FALSE;
}

RECT WindowRect(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    return r;
}

int Scaled(int design_pixels) {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return MulDiv(design_pixels, dpi, 96);
}

SIZE OpeningSize() {
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return {std::min<LONG>(Scaled(1000), work.right - work.left), std::min<LONG>(Scaled(611), work.bottom - work.top)};
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

void MouseButton(bool down, bool right) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = right ? (down ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_RIGHTUP) : (down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP);
    SendInput(1, &in, sizeof in);
}

void Click(int x, int y, bool right) {
    MouseTo(x, y);
    Sleep(150);
    MouseButton(true, right);
    Sleep(80);
    MouseButton(false, right);
}

bool TrayIconCentre(int index, POINT* centre) {
    HWND tray = FindWindowW(nullptr, L"Wine System Tray");
    if (!tray || !IsWindowVisible(tray)) return false;
    RECT client{};
    GetClientRect(tray, &client);
    POINT origin{0, 0};
    ClientToScreen(tray, &origin);
    const int slot = GetSystemMetrics(SM_CXSMICON) + 4;  // Wine lays the icons out in slots of this width
    centre->x = origin.x + slot * index + slot / 2;
    centre->y = origin.y + client.bottom / 2;
    return true;
}

void Screenshot(const std::wstring& name) {
    const std::wstring folder = Env(L"CLIENT_E2E_ARTIFACTS");
    if (folder.empty()) return;
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    const DWORD stride = ((w * 3 + 3) / 4) * 4, size = stride * h;
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = fh.bfOffBits + size;
    const std::wstring path = folder + L"\\" + name + L".bmp";
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(out, &fh, sizeof fh, &written, nullptr);
    WriteFile(out, &bi.bmiHeader, sizeof bi.bmiHeader, &written, nullptr);
    WriteFile(out, bits, size, &written, nullptr);
    CloseHandle(out);
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

}  // namespace client_e2e
