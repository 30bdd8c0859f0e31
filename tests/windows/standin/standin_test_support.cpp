#include "tests/windows/standin/standin_test_support.h"

#include <cstdio>
#include <vector>

#include "win/unique_handle.h"

namespace standin_test {

FARPROC Export(const char* name) {
    HMODULE engine = GetModuleHandleW(L"node.dll");
    return engine ? GetProcAddress(engine, name) : nullptr;
}

int CreateStringW(const wchar_t* text, int length) {
    return Fn<int(__cdecl*)(const wchar_t*, int)>("wkeCreateStringW")(text, length);
}

std::wstring GetStringW(int handle) {
    const wchar_t* p = Fn<const wchar_t*(__cdecl*)(int)>("wkeGetStringW")(handle);
    return p ? p : L"<null>";
}

std::string GetString(int handle) {
    const char* p = Fn<const char*(__cdecl*)(int)>("wkeGetString")(handle);
    return p ? p : "<null>";
}

JsValue JsArg(int es, int index) { return Fn<JsValue(__cdecl*)(int, int)>("jsArg")(es, index); }

std::wstring JsToTempStringW(int es, JsValue value) {
    const wchar_t* p = Fn<const wchar_t*(__cdecl*)(int, JsValue)>("jsToTempStringW")(es, value);
    return p ? p : L"<null>";
}

int JsToInt(int es, JsValue value) { return Fn<int(__cdecl*)(int, JsValue)>("jsToInt")(es, value); }

int LastEntry(const char* name) {
    int found = -1;
    for (int i = standinLogFind(name, 0); i >= 0; i = standinLogFind(name, i + 1)) found = i;
    return found;
}

std::string LogLine(int entry) {
    char buf[4096];
    return standinLogLine(entry, buf, sizeof buf) >= 0 ? buf : "<none>";
}

HWND TestParentWindow() {
    static HWND window = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"StandinTestParent";
        RegisterClassW(&wc);
        return CreateWindowExW(0, L"StandinTestParent", L"stand-in test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 600,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }();
    return window;
}

std::wstring WriteTempFile(const std::wstring& name, const std::string& utf8) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring path = std::wstring(dir) + name;
    vantorix::win::unique_hfile f(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    WriteFile(f.get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    return path;
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace standin_test
