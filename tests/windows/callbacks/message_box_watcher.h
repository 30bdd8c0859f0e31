#pragma once
// Finds the message box with a given caption from another thread, reads its text and presses OK, so a
// test can check a box's text without leaving it open.
#include <windows.h>

#include <string>
#include <thread>

namespace callbacks_test {

class MessageBoxWatcher {
public:
    explicit MessageBoxWatcher(std::wstring caption, DWORD timeoutMs = 20000);
    ~MessageBoxWatcher();
    // Waits for the watcher to finish; true when a box was found (and closed).
    bool Wait();
    const std::wstring& Text() const { return text_; }
    int Seen() const { return seen_; }

private:
    std::wstring caption_;
    DWORD timeoutMs_;
    std::wstring text_;
    int seen_ = 0;
    std::thread thread_;
};

}  // namespace callbacks_test
