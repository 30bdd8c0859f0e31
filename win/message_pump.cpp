#include "win/message_pump.h"

#include <windows.h>

namespace vantorix::win {

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
