// A small program that shows a page the way the client does: it loads node.dll by name, binds
// "onJsCall", opens a web window and loads the page given on its command line, then runs its message
// loop until the page calls onJsCall("btn", "close") (exit code 0) or 60 seconds pass (exit code 3).
// Each page call is appended to the file named by its second argument, if any, as "arg1|arg2".
//   standin_host.exe <page file or address> [calls file]
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "win/unique_handle.h"

namespace {

using JsValue = std::uint64_t;
HMODULE g_engine = nullptr;
std::wstring g_calls_file;

template <class F>
F Fn(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(g_engine, name)));
}

std::wstring ArgText(int es, int index) {
    JsValue v = Fn<JsValue(__cdecl*)(int, int)>("jsArg")(es, index);
    const wchar_t* text = Fn<const wchar_t*(__cdecl*)(int, JsValue)>("jsToTempStringW")(es, v);
    return text ? text : L"";
}

JsValue __cdecl OnJsCall(int es, std::uint32_t) {
    std::wstring first = ArgText(es, 0), second = ArgText(es, 1);
    if (!g_calls_file.empty()) {
        std::wstring line = first + L"|" + second + L"\n";
        char utf8[1024] = {};
        int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
        vantorix::win::unique_hfile f(
            CreateFileW(g_calls_file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr));
        DWORD written = 0;
        if (f) WriteFile(f.get(), utf8, n > 0 ? n - 1 : 0, &written, nullptr);
    }
    if (first == L"btn" && second == L"close") PostQuitMessage(0);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 1;
    if (argc > 2) g_calls_file = argv[2];
    g_engine = LoadLibraryW(L"node.dll");
    if (!g_engine) return 2;
    Fn<void(__cdecl*)(int)>("wkeInitializeEx")(0);
    Fn<void(__cdecl*)(const char*, void*, std::uint32_t, int)>("wkeJsBindFunction")("onJsCall", reinterpret_cast<void*>(OnJsCall), 0, 2);
    int view = Fn<int(__cdecl*)(int, int, int, int, int, int)>("wkeCreateWebWindow")(0, 0, 40, 40, 720, 420);
    Fn<void(__cdecl*)(int, std::uint32_t)>("wkeShowWindow")(view, 1);
    Fn<void(__cdecl*)(int, const wchar_t*)>("wkeLoadFileW")(view, argv[1]);
    SetTimer(nullptr, 0, 60000, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.hwnd == nullptr) return 3;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
