#include "win/message_pump.h"

#include <windows.h>

#include <algorithm>

namespace vantorix::win {

bool WaitAnswering(HANDLE handle, ULONGLONG ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now >= end ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(end - now, INFINITE - 1));
        const DWORD woke = handle ? MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_ALLINPUT)
                                  : MsgWaitForMultipleObjects(0, nullptr, FALSE, left, QS_ALLINPUT);
        if (handle && woke == WAIT_OBJECT_0) return true;
        if (woke == WAIT_TIMEOUT || woke == WAIT_FAILED) return false;
        PumpPendingMessages();
    }
}

void PumpPendingMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

void PacedPump::operator()() {
    const unsigned long long now = ::GetTickCount64();
    if (pumped_ && now - last_ < interval_ms_) return;
    pumped_ = true;
    last_ = now;
    PumpPendingMessages();
}

}  // namespace vantorix::win
