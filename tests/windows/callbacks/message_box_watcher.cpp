#include "message_box_watcher.h"

namespace callbacks_test {

MessageBoxWatcher::MessageBoxWatcher(std::wstring caption, DWORD timeoutMs)
    : caption_(std::move(caption)), timeoutMs_(timeoutMs) {
    thread_ = std::thread([this] {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < timeoutMs_) {
            HWND box = FindWindowW(L"#32770", caption_.c_str());
            if (box) {
                wchar_t text[512] = {};
                GetDlgItemTextW(box, 0xFFFF, text, 512);
                text_ = text;
                ++seen_;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                return;
            }
            Sleep(20);
        }
    });
}

bool MessageBoxWatcher::Wait() {
    if (thread_.joinable()) thread_.join();
    return seen_ > 0;
}

MessageBoxWatcher::~MessageBoxWatcher() { Wait(); }

}  // namespace callbacks_test
