#pragma once
// WinHttpDown: the launcher's resumable downloader. Fetches URL into FileName over asynchronous WinHTTP,
// keeping the bytes received so far in FileName + ".dl" and the URL in FileName + ".dl.cfg" so that a
// paused, failed or interrupted download resumes with "Range: bytes=N-" at the next GetStart, even after
// the program was closed.
//
// Threading: create, use and destroy it on the thread that runs the host's message loop (the form's
// thread). Both events are raised on that thread. After each received block the downloader lets the
// thread's pending messages run (a full queue pass), so the host's handlers - a click on "pause" or the
// next block - may run while an HttpState handler is still on the stack; GetPause/GetStop/GetStart may be
// called from inside any event handler.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vantorix::download {
class FileStore;
}

namespace vantorix::launcher {

// Codes of StateChanged. The launcher shows the text listed for each code.
enum DownloadState : std::int16_t {
    kDownloadRequesting = 1,      // "发送请求..."      GetStart accepted, request about to be made
    kDownloadHeaders = 2,         // "获取远程文件信息..." response headers arrived (any status)
    kDownloadReceiving = 3,       // "开始接收数据..."   data side file open and positioned
    kDownloadAborted = 4,         // "下载被终止..."     transfer failed or ended short; side files kept
    kDownloadStopped = 5,         // "停止下载"         GetStop done
    kDownloadPaused = 6,          // "暂停下载"         GetPause done; side files kept
    kDownloadRefused = 7,         // "连接服务器失败"    status or range answer not usable
    kDownloadSendFailed = 8,      // "发送请求失败"      the request could not be created or sent
    kDownloadComplete = 9,        // "下载完毕"         target file in place
    kDownloadSavePathError = 10,  // "保存路径出错"      a side file or the target could not be written
};

class DownloadEngineHost;  // the Win32 side (WinHTTP, files, message window); defined in the .cpp

class WinHttpDown {
public:
    // HttpState(文件大小, 进度, 下载速度, 已下载大小): total size text, percentage 0..100, average speed
    // of this run in bytes per second as a size text (no "/s"), bytes present so far (resume offset
    // included) as a size text. Raised once per received block.
    using HttpStateHandler = std::function<void(const std::wstring& fileSize, float progress,
                                                const std::wstring& speed, const std::wstring& downloaded)>;
    // StateChanged(State): one of the DownloadState codes.
    using StateChangedHandler = std::function<void(std::int16_t state)>;

    WinHttpDown();
    // With another file layer in place of the Windows file system (tests inject failing disks with it).
    explicit WinHttpDown(std::unique_ptr<download::FileStore> files);
    ~WinHttpDown();
    WinHttpDown(const WinHttpDown&) = delete;
    WinHttpDown& operator=(const WinHttpDown&) = delete;

    // Properties, set by the host before GetStart. FileName is a full path with a folder
    // (C:\app\update\newtemp.zip); URL may be http:// or https:// (a bare host gets http://).
    std::wstring FileName;
    std::wstring URL;
    // The file's size as its publisher announced it, when known: more bytes are refused (state 7, every
    // side file deleted, Oversized() true), and it gives the percentage when the server sends no length.
    std::optional<std::uint64_t> PublishedSize;

    // Events; leave empty to ignore.
    HttpStateHandler HttpState;
    StateChangedHandler StateChanged;

    void GetStart();  // start or resume; ignored while busy
    void GetPause();  // abandon the transfer, keep both side files; ignored when idle
    void GetStop();   // abandon the transfer, delete the settings side file; ignored when idle
    bool Busy() const;
    // HTTP status of the last answer of the current or last transfer; 0 when none came.
    int LastHttpStatus() const;
    // That answer's Retry-After and Date header values; "" when it carried none.
    std::string LastRetryAfter() const;
    std::string LastDate() const;
    // The last transfer was refused because the server announced or sent more than PublishedSize.
    bool Oversized() const;
    // Why the last transfer was refused as not the published file (a web page such as a captive
    // portal's login, or a smaller file than PublishedSize); "" when it was not. Nothing of it was kept.
    std::string NotTheFile() const;
    // Processor time of this thread that the current or last transfer spent in the host: in its HttpState
    // handler, and in the messages let run after each block (the form's repaints); and the blocks it
    // received. The benchmark's breakdown of a download reads it; counted at the system's clock-tick
    // resolution.
    struct HostCost {
        double handler_seconds = 0;
        double messages_seconds = 0;
        unsigned blocks = 0;
    };
    HostCost Cost() const;

private:
    std::unique_ptr<DownloadEngineHost> host_;
};

// The shell's short byte-size text of a size (StrFormatByteSize64A, system language): "532 bytes",
// "1.45 KB", "12.3 MB", "2.00 GB". The value is rounded to a whole number; sizes of 2 GiB and more work.
std::wstring FormatByteSizeText(double bytes);

}  // namespace vantorix::launcher
