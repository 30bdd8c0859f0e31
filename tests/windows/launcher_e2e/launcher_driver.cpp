// Plays the user of VantorixAssist: waits for its message boxes and its form, reads their texts, presses
// their buttons and takes screenshots. Each argument is one step; the first step that fails ends the run
// with exit code 1 and says why. Every step is bounded by its own timeout.
//
//   box|yes|<text part>[|seconds]    a message box titled "VantorixAssist" whose text holds the part: press Yes
//   box|no|... box|ok|...           the same with No or OK
//   waitbox|<text part>[|seconds]   such a box is up (and stays up, for a screenshot)
//   nobox[|seconds]                 no message box comes up before the flow records its end ("-> ended"),
//                                   which must come within the time
//   form|<button text>|<0|1>[|s]    the form "检查更新" is visible, Command1 shows the text, enabled or not
//   flow|<state>[|seconds]          the launcher's log records a transition of its flow into the state
//                                   ("downloading", "installed", ...; see FlowState): however briefly the
//                                   state lasted, its line is there
//   event|<event>[|seconds]         the log records a transition for the event ("close-refused", ...)
//   order|<state>,<state>,...       the states the flow went through since this run began, read from the
//                                   log, are exactly these in this order, starting with its first state:
//                                   one launcher's flow, each transition starting where the last one ended
//   seenmsg|<text part>             the status line held the part at some point so far (sampled)
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

#include "win/diagnostic_log.h"
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
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
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

std::wstring Wide(const std::string& utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

// One transition the launcher's flow recorded: "<time> <pid> flow: <from> -> <to> (<event>)".
struct Transition {
    std::wstring pid, from, to, event;
};

// The launcher's log as written since the driver started (the driver starts before the launcher): the
// flow's transitions in the order they happened, whatever the form showed for how long.
class FlowLog {
public:
    void Start() {
        path_ = vantorix::win::diag::PerUserLogPath(L"launcher.log");
        start_ = ReadFileBytes(path_).size();
    }
    std::vector<Transition> Transitions() const {
        std::string bytes = ReadFileBytes(path_);
        if (bytes.size() < start_) {
            // The log rotated meanwhile: what this run wrote before begins in the older file.
            const std::string older = ReadFileBytes(path_ + L".1");
            bytes = (older.size() > start_ ? older.substr(start_) : std::string()) + bytes;
        } else {
            bytes = bytes.substr(start_);
        }
        std::vector<Transition> found;
        size_t at = 0;
        while (at < bytes.size()) {
            size_t end = bytes.find('\n', at);
            if (end == std::string::npos) break;  // a line still being written
            const std::wstring line = Wide(bytes.substr(at, end - at));
            at = end + 1;
            const size_t first = line.find(L' '), second = first == std::wstring::npos ? first : line.find(L' ', first + 1);
            if (second == std::wstring::npos || line.compare(second + 1, 6, L"flow: ") != 0) continue;
            const std::wstring text = line.substr(second + 7);
            const size_t arrow = text.find(L" -> "), open = text.find(L" ("), close = text.rfind(L')');
            if (arrow == std::wstring::npos || open == std::wstring::npos || close == std::wstring::npos || open < arrow)
                continue;
            found.push_back({line.substr(first + 1, second - first - 1), text.substr(0, arrow),
                             text.substr(arrow + 4, open - arrow - 4), text.substr(open + 2, close - open - 2)});
        }
        return found;
    }
    bool Entered(const std::wstring& state) const {
        for (const auto& t : Transitions())
            if (t.to == state) return true;
        return false;
    }
    bool Happened(const std::wstring& event) const {
        for (const auto& t : Transitions())
            if (t.event == event) return true;
        return false;
    }

private:
    std::wstring path_;
    size_t start_ = 0;
};

FlowLog g_flow;

std::wstring Described(const std::vector<Transition>& transitions) {
    std::wstring out;
    for (const auto& t : transitions) out += L"\n    " + t.pid + L": " + t.from + L" -> " + t.to + L" (" + t.event + L")";
    return out.empty() ? L" none" : out;
}

// Watches the form from its own thread for the whole run and keeps every change of the status line and the
// most launcher forms visible at once (texts and windows the flow does not record).
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
        std::wstring status = WindowText(GetDlgItem(form, kLblMsg));
        std::lock_guard<std::mutex> lock(mutex_);
        max_forms_ = std::max(max_forms_, VisibleForms());
        if (!status.empty() && (statuses_.empty() || statuses_.back() != status)) statuses_.push_back(status);
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
    std::vector<std::wstring> statuses_;
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
        HWND box = nullptr;
        const bool ended = WaitFor(Seconds(p, 1, 30), [&] { return (box = VisibleBox()) != nullptr || g_flow.Entered(L"ended"); });
        if (box) return L"a message box came up: " + BoxText(box);
        return ended ? L"" : L"the flow did not end:" + Described(g_flow.Transitions());
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
    if ((op == L"flow" || op == L"event") && p.size() >= 2) {
        const bool ok = WaitFor(Seconds(p, 2, 30), [&] { return op == L"flow" ? g_flow.Entered(p[1]) : g_flow.Happened(p[1]); });
        if (!ok) return L"the flow recorded no such transition:" + Described(g_flow.Transitions());
        return L"";
    }
    if (op == L"order" && p.size() >= 2) {
        std::vector<std::wstring> wanted;
        for (size_t start = 0;;) {
            size_t comma = p[1].find(L',', start);
            wanted.push_back(p[1].substr(start, comma - start));
            if (comma == std::wstring::npos) break;
            start = comma + 1;
        }
        const std::vector<Transition> recorded = g_flow.Transitions();
        Say(L"  transitions:" + Described(recorded));
        if (recorded.empty()) return L"the flow recorded no transition";
        std::vector<std::wstring> states{recorded.front().from};
        for (const auto& t : recorded) {
            if (t.pid != recorded.front().pid) return L"more than one launcher ran the flow";
            if (t.from != states.back()) return L"a transition does not start where the last one ended: " + t.from;
            states.push_back(t.to);
        }
        if (states != wanted) return L"the flow went through " + Joined(states);
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
    g_flow.Start();
    g_recorder.Start();
    // The harness starts the launcher once it reads this: every line the launcher writes comes after it.
    Say(L"driver ready");
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
