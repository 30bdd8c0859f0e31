#pragma once
// For the tests of the library's thread rules: OnOtherThread runs a piece of a test on a thread of its own
// and waits for it, letting this thread's messages run meanwhile (a call marshaled back to this thread's
// apartment is delivered by them); the wait is bounded (two minutes, whatever the machine's speed) and false
// when the thread did not finish in that time. LastErrorText is the description the calling thread's last
// failure left (IErrorInfo), "" when none.
#include <windows.h>
#include <oleauto.h>

#include <functional>
#include <string>

namespace callbacks_test {

inline std::wstring LastErrorText() {
    IErrorInfo* info = nullptr;
    BSTR text = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) info->GetDescription(&text);
    if (info) info->Release();
    std::wstring result = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return result;
}

inline DWORD WINAPI RunWork(void* work) {
    (*static_cast<const std::function<void()>*>(work))();
    return 0;
}

inline bool OnOtherThread(const std::function<void()>& work) {
    HANDLE thread = CreateThread(nullptr, 0, RunWork, const_cast<std::function<void()>*>(&work), 0, nullptr);
    if (!thread) return false;
    const ULONGLONG deadline = GetTickCount64() + 120000;
    bool done = false;
    while (!done && GetTickCount64() < deadline) {
        const DWORD wait = MsgWaitForMultipleObjects(1, &thread, FALSE, 1000, QS_ALLINPUT);
        done = wait == WAIT_OBJECT_0;
        MSG msg;
        while (!done && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    CloseHandle(thread);
    return done;
}

}  // namespace callbacks_test
