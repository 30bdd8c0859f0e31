#include "engine_fixture.h"

namespace callbacks_test {

int NewView() {
    static const bool initialised = [] {
        wkeInitialize();
        return true;
    }();
    (void)initialised;
    return wkeCreateWebView();
}

std::wstring EngineString(int engineString) {
    const wchar_t* text = wkeGetStringW(engineString);
    return text ? std::wstring(text) : std::wstring();
}

void RegisterWithEngine(const char* registration, int view, std::uint32_t callback, int param) {
    using Registration = void(__cdecl*)(int, std::uint32_t, int);
    auto fn = reinterpret_cast<Registration>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"node.dll"), registration)));
    if (fn) fn(view, callback, param);
}

}  // namespace callbacks_test
