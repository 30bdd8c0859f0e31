// The control window: a message-only window through which another process drives the stand-in engine of
// this one (commands in standin_control.h), and the DLL's entry point.
#include <windows.h>

#include <string>
#include <vector>

#include "engine-standin/call_log.h"
#include "engine-standin/engine_state.h"
#include "engine-standin/standin_control.h"
#include "engine-standin/standin_locate.h"
#include "engine-standin/text_codec.h"
#include "engine-standin/views.h"

namespace standin {
namespace {

HINSTANCE g_module = nullptr;
HWND g_control = nullptr;  // lives until the process ends
bool g_auto_fire = false;
constexpr UINT kFireLoadNotifications = WM_APP + 1;

// The notifications of one completed load, in a browser's order (see standinSetAutoFire).
void FireLoadNotifications(int handle) {
    View* view = Engine::Get().FindView(handle);
    if (!view) return;
    std::wstring url = view->url, title = view->title;
    std::string page = ToUtf8(view->source);
    auto fire = [&](const char* registration, StandinFireArgs& args) {
        unsigned int result = 0;
        standinFire(handle, registration, &args, &result);
    };
    StandinFireArgs begin{};
    begin.url = url.c_str();
    fire("wkeOnLoadUrlBegin", begin);
    StandinFireArgs changed{};
    changed.url = url.c_str();
    fire("wkeOnURLChanged", changed);
    StandinFireArgs changed2{};
    changed2.url = url.c_str();
    changed2.ints[0] = 1;
    fire("wkeOnURLChanged2", changed2);
    StandinFireArgs titled{};
    titled.text1 = title.c_str();
    fire("wkeOnTitleChanged", titled);
    StandinFireArgs ready{};
    fire("wkeOnDocumentReady", ready);
    StandinFireArgs ready2{};
    ready2.ints[0] = 1;
    fire("wkeOnDocumentReady2", ready2);
    StandinFireArgs end{};
    end.url = url.c_str();
    end.job = begin.jobUsed;
    end.buffer = page.data();
    end.bufferLength = static_cast<int>(page.size());
    fire("wkeOnLoadUrlEnd", end);
}

std::vector<std::wstring> Fields(const std::wstring& command) {
    std::vector<std::wstring> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t tab = command.find(L'\t', start);
        fields.push_back(command.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
        if (tab == std::wstring::npos) break;
        start = tab + 1;
    }
    return fields;
}

// The view a command acts on: the first that satisfies `wanted`, else the first one.
template <class Pred>
int PickView(Pred wanted) {
    auto views = Engine::Get().LiveViews();
    for (View* v : views)
        if (wanted(*v)) return v->handle;
    return views.empty() ? 0 : views.front()->handle;
}

int Execute(const std::wstring& command) {
    auto f = Fields(command);
    const std::wstring& verb = f[0];
    if (verb == L"views" && f.size() == 1) return standinViewCount();
    if (verb == L"click" && f.size() == 2) {
        for (View* v : Engine::Get().LiveViews())
            if (standinClickButton(v->handle, f[1].c_str())) return 1;
        return 0;
    }
    if (verb == L"call" && f.size() >= 2) {
        std::string name = ToUtf8(f[1]);
        std::vector<const wchar_t*> args;
        for (std::size_t i = 2; i < f.size(); ++i) args.push_back(f[i].c_str());
        int view = PickView([](const View& v) { return v.window != nullptr; });
        unsigned long long result = 0;
        if (!standinCallBoundStrings(name.c_str(), view, args.data(), static_cast<int>(args.size()), &result)) return 0;
        return static_cast<int>(static_cast<std::uint32_t>(result));
    }
    if (verb == L"fire" && f.size() >= 2) {
        std::string registration = ToUtf8(f[1]);
        StandinFireArgs args{};
        std::wstring texts[4];
        for (std::size_t i = 2; i < f.size(); ++i) {
            std::size_t eq = f[i].find(L'=');
            if (eq == std::wstring::npos) return -1;
            std::wstring key = f[i].substr(0, eq), value = f[i].substr(eq + 1);
            if (key == L"url") texts[0] = value;
            else if (key == L"text1") texts[1] = value;
            else if (key == L"text2") texts[2] = value;
            else if (key == L"text3") texts[3] = value;
            else if (key == L"job") args.job = _wtoi(value.c_str());
            else if (key.size() == 4 && key.compare(0, 3, L"int") == 0 && key[3] >= L'0' && key[3] <= L'4')
                args.ints[key[3] - L'0'] = _wtoi(value.c_str());
            else
                return -1;
        }
        args.url = texts[0].c_str();
        args.text1 = texts[1].c_str();
        args.text2 = texts[2].c_str();
        args.text3 = texts[3].c_str();
        int view = PickView([&](const View& v) {
            auto& regs = Engine::Get().RegistrationsOf(v.handle);
            return regs.count(registration) != 0;
        });
        unsigned int result = 0;
        if (!standinFire(view, registration.c_str(), &args, &result)) return 0;
        return static_cast<int>(result);
    }
    return -1;
}

LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
    if (message == kFireLoadNotifications) {
        try {
            FireLoadNotifications(static_cast<int>(lp));
        } catch (...) {
            RecordFailure("the load notifications");
        }
        return 0;
    }
    if (message == WM_COPYDATA) {
        try {
            auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lp);
            if (!data || data->dwData != STANDIN_COPYDATA_MAGIC) return -1;
            std::string utf8(static_cast<const char*>(data->lpData), data->cbData);
            AppendNoteToFile("#standin " + utf8);
            int result = Execute(FromUtf8(utf8));
            AppendNoteToFile("#standin " + utf8 + " -> " + std::to_string(result));
            return result;
        } catch (...) {
            RecordFailure("a control command");
            return -1;
        }
    }
    return DefWindowProcW(window, message, wp, lp);
}

}  // namespace

HINSTANCE ModuleInstance() { return g_module; }

void SetAutoFire(bool on) { g_auto_fire = on; }

void QueueLoadNotifications(int view) {
    EnsureControlWindow();
    if (g_auto_fire && g_control) PostMessageW(g_control, kFireLoadNotifications, 0, view);
}

void EnsureControlWindow() {
    if (g_control) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = ControlProc;
    wc.hInstance = g_module;
    wc.lpszClassName = STANDIN_CONTROL_CLASS;
    RegisterClassExW(&wc);
    std::wstring title = L"VantorixStandin " + std::to_wstring(GetCurrentProcessId());
    g_control = CreateWindowExW(0, STANDIN_CONTROL_CLASS, title.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, g_module, nullptr);
    if (!g_control) return;
    // Published for other processes (standin_locate.h); the block lives as long as the process.
    HANDLE block = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(DWORD),
                                      ControlBlockName(GetCurrentProcessId()).c_str());
    if (!block) return;
    if (void* view = MapViewOfFile(block, FILE_MAP_WRITE, 0, 0, sizeof(DWORD))) {
        *static_cast<DWORD*>(view) = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(g_control));
        UnmapViewOfFile(view);
    }
}

}  // namespace standin

extern "C" void STANDIN_CALL standinSetAutoFire(int on) { standin::SetAutoFire(on != 0); }

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        standin::g_module = module;
        DisableThreadLibraryCalls(module);
        wchar_t value[4] = {};
        if (GetEnvironmentVariableW(L"VANTORIX_STANDIN_AUTOFIRE", value, 4) == 1 && value[0] == L'1')
            standin::g_auto_fire = true;
    }
    return TRUE;
}
