#pragma once
// One HTTP(S) GET at a time on asynchronous WinHTTP. WinHTTP calls back on its own worker threads; the
// callback only posts a message to a message-only window made on the owner's thread, and everything
// else - reading headers, handing blocks over, asking for the next block - runs there. Only one read is
// outstanding, and the next is asked for after the previous block was handed over, so exactly one block
// is ever held in memory.
#include <windows.h>

#include <cstdint>
#include <string>

#include "common/download/resumable_download.h"
#include "win/unique_winhttp.h"
#include "win/window_class.h"

namespace vantorix::launcher {

// Receives the current request's events on the owner's thread.
class TransportEvents {
public:
    virtual ~TransportEvents() = default;
    virtual void OnResponseStart(const download::ResponseHead& head) = 0;
    virtual void OnData(const std::uint8_t* bytes, std::size_t count) = 0;
    virtual void OnFinished() = 0;
    virtual void OnError(long code) = 0;
};

class WinHttpTransport : public download::Transport {
public:
    explicit WinHttpTransport(TransportEvents& events);  // on the owner's (UI) thread
    ~WinHttpTransport() override;
    WinHttpTransport(const WinHttpTransport&) = delete;
    WinHttpTransport& operator=(const WinHttpTransport&) = delete;

    bool Send(const std::wstring& url, std::uint64_t rangeFrom, const std::string& ifRange) override;
    void Abandon() override;

    static constexpr std::size_t kBlockSize = 256 * 1024;

private:
    struct Request;
    static void CALLBACK OnWinHttp(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);
    // The message window's handler (win/window_class.h).
    static LRESULT HandleMessage(WinHttpTransport& self, HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    using MessageClass = vantorix::win::WindowClass<WinHttpTransport, &WinHttpTransport::HandleMessage>;
    void OnPosted(UINT message, std::uint32_t id, LPARAM value);
    // By id, not address: a new request may be allocated where an abandoned one was.
    bool IsCurrent(std::uint32_t id) const;
    void HeadersArrived();
    void ReadNext();
    void Fail(long code);

    TransportEvents& events_;
    HWND window_ = nullptr;  // message-only window, destroyed with the transport
    win::unique_hinternet session_;
    std::wstring sessionUrl_;
    win::unique_hinternet connection_;
    win::unique_hinternet request_;
    struct Sent {
        std::wstring url;
        std::uint64_t rangeFrom = 0;
        std::string ifRange;
    };
    Sent sent_;                    // the current request, for sending it again without the revocation check
    bool checkRevocation_ = true;  // off once the revocation server proved out of reach
    Request* current_ = nullptr;  // freed by WinHTTP's closing notification of its request handle
    std::uint32_t nextId_ = 0;
};

}  // namespace vantorix::launcher
