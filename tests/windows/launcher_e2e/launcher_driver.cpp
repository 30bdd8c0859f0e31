// Plays the user of VantorixAssist: waits for its message boxes and its form, reads their texts, presses
// their buttons and takes screenshots. Each argument is one step; the first step that fails ends the run
// with exit code 1 and says why. Every step is bounded by its own timeout.
//
//   box|yes|<text part>[|seconds]    a message box titled "VantorixAssist" whose text holds the part: press Yes
//   box|no|... box|ok|...           the same with No or OK
//   waitbox|<text part>[|seconds]   such a box is up (and stays up, for a screenshot)
//   nobox|<seconds>                 no message box comes up within the time
//   form|<button text>|<0|1>[|s]    the form "检查更新" is visible, Command1 shows the text, enabled or not
//   reached|<button text>[|s]       the form is visible and its button shows that state or a later one of the
//                                   update flow (立即升级, 升级中, 升级完毕, 立即启动): a download may pass
//                                   a state in milliseconds, so a state that may be missed is never awaited
//   order|<state>,<state>,...       every button text recorded so far appears in this list, in this order
//                                   (a state may be skipped, none may come back after a later one)
//   seenmsg|<text part>             the status line held the part at some point so far (recorded)
//   msg|<text part>[|seconds]       the status line lblMsg holds the part
//   label|<id>|<text>               a label (101 Label1, 107 Label7, 102 Label2, 103 Label3, 104 Label4) reads so
//   bar|<min>[|seconds]             the progress bar under the status line stands at min (0..100) or beyond
//   click                           press Command1
//   close                           the close box of the form (WM_SYSCOMMAND SC_CLOSE)
//   neverform|<seconds>             the form appears hidden and goes away without ever being visible
//   gone|<seconds>                  the form window no longer exists
//   restore|<seconds>               waits for a minimised top-level window and restores it, as a click on
//                                   its taskbar button would; a program that showed itself normally needs
//                                   nothing, so finding none is no failure
//   shown|<window class>[|seconds]  a visible, not minimised top-level window of that class exists
//   end|<full program path>         ends every process started from exactly that file (the demo's client)
//   note|<file>|<text part>[|s]     the file holds the part (the stand-in engine's notes: the engine a
//                                   client runs on notes its own file version when it starts)
//   maxforms|<n>                    at no time so far were more than n launcher forms visible at once
//   shot|<file.bmp>                 the whole screen as a 24-bit bitmap
//   sleep|<milliseconds>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "win/end_program.h"
#include "win/unique_handle.h"

namespace {

constexpr wchar_t kBoxTitle[] = L"VantorixAssist";
constexpr wchar_t kFormCaption[] = L"检查更新";
constexpr int kCommand1 = 201, kLblMsg = 105, kProgressBar = 106;

std::string Utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

void Say(const std::wstring& line) {
    std::string text = Utf8(line) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

std::vector<std::wstring> Split(const std::wstring& step) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;) {
        size_t bar = step.find(L'|', start);
        parts.push_back(step.substr(start, bar - start));
        if (bar == std::wstring::npos) return parts;
        start = bar + 1;
    }
}

std::wstring WindowText(HWND window) {
    wchar_t buffer[4096] = {};
    // WM_GETTEXT reaches another process's controls; GetWindowText would not.
    SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000, nullptr);
    return buffer;
}

template <class Test>
bool WaitFor(double seconds, Test test) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    do {
        if (test()) return true;
        Sleep(50);
    } while (GetTickCount64() < end);
    return test();
}

HWND VisibleBox() {
    HWND box = FindWindowW(L"#32770", kBoxTitle);
    return box && IsWindowVisible(box) ? box : nullptr;
}

HWND Form() { return FindWindowW(nullptr, kFormCaption); }

BOOL CALLBACK CountForm(HWND window, LPARAM count) {
    wchar_t caption[64] = {};
    GetWindowTextW(window, caption, 64);
    if (IsWindowVisible(window) && std::wstring(caption) == kFormCaption) ++*reinterpret_cast<int*>(count);
    return TRUE;
}

int VisibleForms() {
    int count = 0;
    EnumWindows(&CountForm, reinterpret_cast<LPARAM>(&count));
    return count;
}

std::string ReadFileBytes(const std::wstring& path) {
    vantorix::win::unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (file && ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    return bytes;
}

std::wstring BoxText(HWND box) {
    wchar_t buffer[4096] = {};
    GetDlgItemTextW(box, 0xFFFF, buffer, 4096);
    return buffer;
}

bool SaveScreen(const std::wstring& path) {
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    const DWORD stride = ((width * 3 + 3) / 4) * 4, size = stride * height;
    BITMAPFILEHEADER file{0x4D42, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size, 0, 0,
                          sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
    bool ok = false;
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ok = WriteFile(out, &file, sizeof file, &written, nullptr) &&
             WriteFile(out, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) &&
             WriteFile(out, bits, size, &written, nullptr);
        CloseHandle(out);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

BOOL CALLBACK FindMinimised(HWND window, LPARAM out) {
    if (!IsWindowVisible(window) || !IsIconic(window)) return TRUE;
    *reinterpret_cast<HWND*>(out) = window;
    return FALSE;
}

// The update flow's button states in the order the flow passes them.
const std::vector<std::wstring> kFlow = {L"立即升级", L"升级中", L"升级完毕", L"立即启动"};

int FlowIndex(const std::wstring& state) {
    for (size_t i = 0; i < kFlow.size(); ++i)
        if (kFlow[i] == state) return static_cast<int>(i);
    return -1;
}

// Watches the form from its own thread for the whole run and keeps every change of the button and the
// status line, so that steps can ask what the form went through, however briefly a state lasted.
class Recorder {
public:
    void Start() {
        std::thread([this] {
            for (;;) {
                Sample();
                Sleep(15);
            }
        }).detach();
    }
    // Also called by the steps that read the record, so that it holds what they see now.
    void Sample() {
        HWND form = Form();
        if (!form) return;
        std::wstring button = WindowText(GetDlgItem(form, kCommand1));
        std::wstring status = WindowText(GetDlgItem(form, kLblMsg));
        std::lock_guard<std::mutex> lock(mutex_);
        if (!button.empty() && (buttons_.empty() || buttons_.back() != button)) buttons_.push_back(button);
        max_forms_ = std::max(max_forms_, VisibleForms());
        if (!status.empty() && (statuses_.empty() || statuses_.back() != status)) statuses_.push_back(status);
    }
    std::vector<std::wstring> Buttons() {
        Sample();
        std::lock_guard<std::mutex> lock(mutex_);
        return buttons_;
    }
    int MaxForms() {
        Sample();
        std::lock_guard<std::mutex> lock(mutex_);
        return max_forms_;
    }
    std::vector<std::wstring> Statuses() {
        Sample();
        std::lock_guard<std::mutex> lock(mutex_);
        return statuses_;
    }

private:
    std::mutex mutex_;
    std::vector<std::wstring> buttons_, statuses_;
    int max_forms_ = 0;
};

Recorder g_recorder;

std::wstring Joined(const std::vector<std::wstring>& items) {
    std::wstring out;
    for (const auto& item : items) out += (out.empty() ? L"" : L" > ") + item;
    return out;
}

double Seconds(const std::vector<std::wstring>& parts, size_t index, double fallback) {
    return parts.size() > index && !parts[index].empty() ? _wtof(parts[index].c_str()) : fallback;
}

// Runs one step; returns "" on success, else what went wrong.
std::wstring Run(const std::vector<std::wstring>& p) {
    const std::wstring& op = p[0];
    if (op == L"box" && p.size() >= 3) {
        HWND box = nullptr;
        if (!WaitFor(Seconds(p, 3, 30), [&] { return (box = VisibleBox()) != nullptr; })) return L"no message box came up";
        const std::wstring text = BoxText(box);
        Say(L"  box text: " + text);
        if (text.find(p[2]) == std::wstring::npos) return L"the box says something else";
        const int id = p[1] == L"yes" ? IDYES : p[1] == L"no" ? IDNO : IDOK;
        HWND button = GetDlgItem(box, id);
        if (!button) return L"the box has no such button";
        SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, 5000, nullptr);
        if (!WaitFor(10, [&] { return !IsWindow(box); })) return L"the box stayed after its button was pressed";
        return L"";
    }
    if (op == L"waitbox" && p.size() >= 2) {
        std::wstring seen;
        bool ok = WaitFor(Seconds(p, 2, 30), [&] {
            HWND box = VisibleBox();
            seen = box ? BoxText(box) : L"";
            return seen.find(p[1]) != std::wstring::npos;
        });
        Say(L"  box text: " + seen);
        return ok ? L"" : L"no such message box came up";
    }
    if (op == L"nobox") {
        if (WaitFor(Seconds(p, 1, 3), [] { return VisibleBox() != nullptr; }))
            return L"a message box came up: " + BoxText(VisibleBox());
        return L"";
    }
    if (op == L"form" && p.size() >= 3) {
        const bool enabled = p[2] == L"1";
        std::wstring seen;
        bool ok = WaitFor(Seconds(p, 3, 30), [&] {
            HWND form = Form();
            if (!form || !IsWindowVisible(form)) return false;
            HWND button = GetDlgItem(form, kCommand1);
            seen = WindowText(button);
            return seen == p[1] && (IsWindowEnabled(button) != FALSE) == enabled;
        });
        if (HWND form = Form()) {
            for (int id : {101, 107, 102, 103, 104, kLblMsg, kCommand1})
                Say(L"  control " + std::to_wstring(id) + L": " + WindowText(GetDlgItem(form, id)));
        }
        return ok ? L"" : L"the form's button reads \"" + seen + L"\"";
    }
    if (op == L"reached" && p.size() >= 2) {
        const int wanted = FlowIndex(p[1]);
        if (wanted < 0) return L"not a state of the update flow";
        std::wstring seen;
        bool ok = WaitFor(Seconds(p, 2, 30), [&] {
            HWND form = Form();
            if (!form || !IsWindowVisible(form)) return false;
            seen = WindowText(GetDlgItem(form, kCommand1));
            return FlowIndex(seen) >= wanted;
        });
        Say(L"  button: " + seen);
        return ok ? L"" : L"the form's button reads \"" + seen + L"\"";
    }
    if (op == L"order" && p.size() >= 2) {
        std::vector<std::wstring> allowed;
        for (size_t start = 0;;) {
            size_t comma = p[1].find(L',', start);
            allowed.push_back(p[1].substr(start, comma - start));
            if (comma == std::wstring::npos) break;
            start = comma + 1;
        }
        const std::vector<std::wstring> seen = g_recorder.Buttons();
        Say(L"  button states: " + Joined(seen));
        size_t at = 0;
        for (const auto& state : seen) {
            while (at < allowed.size() && allowed[at] != state) ++at;
            if (at == allowed.size()) return L"the button went through \"" + state + L"\" out of order";
        }
        return L"";
    }
    if (op == L"seenmsg" && p.size() >= 2) {
        for (const auto& status : g_recorder.Statuses())
            if (status.find(p[1]) != std::wstring::npos) {
                Say(L"  status seen: " + status);
                return L"";
            }
        return L"the status line never held it: " + Joined(g_recorder.Statuses());
    }
    if (op == L"msg" && p.size() >= 2) {
        std::wstring seen;
        bool ok = WaitFor(Seconds(p, 2, 30), [&] {
            HWND form = Form();
            seen = form ? WindowText(GetDlgItem(form, kLblMsg)) : L"";
            return seen.find(p[1]) != std::wstring::npos;
        });
        Say(L"  status: " + seen);
        return ok ? L"" : L"the status line reads \"" + seen + L"\"";
    }
    if (op == L"bar" && p.size() >= 2) {
        DWORD_PTR position = 0;
        bool ok = WaitFor(Seconds(p, 2, 30), [&] {
            HWND form = Form();
            position = 0;
            if (form) SendMessageTimeoutW(GetDlgItem(form, kProgressBar), PBM_GETPOS, 0, 0, SMTO_NORMAL, 5000, &position);
            return static_cast<int>(position) >= _wtoi(p[1].c_str());
        });
        Say(L"  progress bar: " + std::to_wstring(position));
        return ok ? L"" : L"the progress bar stands at " + std::to_wstring(position);
    }
    if (op == L"label" && p.size() >= 3) {
        HWND form = Form();
        const std::wstring seen = form ? WindowText(GetDlgItem(form, _wtoi(p[1].c_str()))) : L"";
        return seen == p[2] ? L"" : L"the label reads \"" + seen + L"\"";
    }
    if (op == L"click") {
        HWND form = Form();
        if (!form) return L"no form";
        SendMessageTimeoutW(GetDlgItem(form, kCommand1), BM_CLICK, 0, 0, SMTO_NORMAL, 5000, nullptr);
        return L"";
    }
    if (op == L"close") {
        HWND form = Form();
        if (!form) return L"no form";
        PostMessageW(form, WM_SYSCOMMAND, SC_CLOSE, 0);
        return L"";
    }
    if (op == L"neverform") {
        if (!WaitFor(Seconds(p, 1, 30), [] { return Form() != nullptr; })) return L"the launcher never made its form";
        bool shown = false;
        bool gone = WaitFor(Seconds(p, 1, 30), [&] {
            HWND form = Form();
            if (form && IsWindowVisible(form)) shown = true;
            return form == nullptr;
        });
        if (shown) return L"the form was shown";
        return gone ? L"" : L"the form is still there";
    }
    if (op == L"gone") {
        return WaitFor(Seconds(p, 1, 30), [] { return Form() == nullptr; }) ? L"" : L"the form is still there";
    }
    if (op == L"shot" && p.size() >= 2) {
        // Under emulation painting lags behind the texts: ask for it, then give it a moment.
        for (HWND window : {Form(), VisibleBox()})
            if (window) RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Sleep(700);
        return SaveScreen(p[1]) ? L"" : L"the screenshot could not be written";
    }
    if (op == L"restore") {
        HWND found = nullptr;
        bool ok = WaitFor(Seconds(p, 1, 30), [&] {
            EnumWindows(&FindMinimised, reinterpret_cast<LPARAM>(&found));
            return found != nullptr;
        });
        if (!ok) {
            Say(L"  no minimised window to restore");
            return L"";
        }
        wchar_t title[256] = {};
        GetWindowTextW(found, title, 256);
        Say(L"  restoring: " + std::wstring(title));
        ShowWindowAsync(found, SW_RESTORE);
        SetForegroundWindow(found);
        return L"";
    }
    if (op == L"shown" && p.size() >= 2) {
        HWND window = nullptr;
        bool ok = WaitFor(Seconds(p, 2, 30), [&] {
            window = FindWindowW(p[1].c_str(), nullptr);
            return window && IsWindowVisible(window) && !IsIconic(window);
        });
        if (!window) return L"no such window";
        return ok ? L"" : L"the window is hidden or minimised";
    }
    if (op == L"end" && p.size() >= 2) {
        Say(L"  ended " + std::to_wstring(vantorix::win::EndProgram(p[1])) + L" process(es)");
        return L"";
    }
    if (op == L"note" && p.size() >= 3) {
        // Read by name, not through another process's memory: an emulator (qemu-user) cannot show one
        // process another's loaded modules.
        std::string notes;
        const std::string part = Utf8(p[2]);
        const bool ok = WaitFor(Seconds(p, 3, 30), [&] {
            notes = ReadFileBytes(p[1]);
            return notes.find(part) != std::string::npos;
        });
        Say(L"  notes: " + std::wstring(notes.begin(), notes.end()));
        return ok ? L"" : L"the file does not hold that note";
    }
    if (op == L"maxforms" && p.size() >= 2) {
        const int most = g_recorder.MaxForms();
        Say(L"  most forms at once: " + std::to_wstring(most));
        return most <= _wtoi(p[1].c_str()) ? L"" : L"more forms were shown at once";
    }
    if (op == L"sleep" && p.size() >= 2) {
        Sleep(_wtoi(p[1].c_str()));
        return L"";
    }
    return L"unknown step";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    g_recorder.Start();
    for (int i = 1; i < argc; ++i) {
        Say(L"step " + std::wstring(argv[i]));
        const std::wstring problem = Run(Split(argv[i]));
        if (!problem.empty()) {
            Say(L"FAILED: " + problem);
            return 1;
        }
    }
    Say(L"all steps passed");
    return 0;
}
