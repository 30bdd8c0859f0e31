#pragma once
// The downloader's run logic, apart from any HTTP client, file API or window system: which side files a
// start uses and where it resumes, how a response is judged, what is written where, the numbers and
// state codes the host sees, and how a run ends. The Windows component feeds it WinHTTP's events; tests
// feed it scripted ones.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/download/response_plan.h"
#include "common/download/side_files.h"

namespace vantorix::download {

// State codes raised through Host::OnStateChanged.
enum State : std::int16_t {
    kRequesting = 1,
    kHeaders = 2,
    kReceiving = 3,
    kAborted = 4,
    kStopped = 5,
    kPaused = 6,
    kRefused = 7,
    kSendFailed = 8,
    kComplete = 9,
    kSavePathError = 10,
};

// The open data side file: a sink for the received bytes.
class DataSink {
public:
    virtual ~DataSink() = default;
    virtual bool SeekTo(std::uint64_t offset) = 0;  // next write goes here
    virtual bool TruncateHere() = 0;                // the file ends at the write position
    virtual bool Write(const std::uint8_t* bytes, std::size_t count) = 0;
};

// The file operations a run needs.
class FileStore {
public:
    virtual ~FileStore() = default;
    virtual bool Exists(const std::wstring& path) = 0;
    virtual std::optional<std::uint64_t> SizeOf(const std::wstring& path) = 0;
    // The settings side file holds the URL in the ANSI code page, nothing else.
    virtual std::optional<std::wstring> ReadText(const std::wstring& path) = 0;
    virtual bool WriteText(const std::wstring& path, const std::wstring& text) = 0;
    // Opened for writing, created when missing, content kept; null when it cannot be opened.
    virtual std::unique_ptr<DataSink> OpenData(const std::wstring& path) = 0;
    virtual bool Remove(const std::wstring& path) = 0;
    virtual bool Rename(const std::wstring& from, const std::wstring& to) = 0;  // never replaces `to`
};

// One HTTP GET at a time, with the headers RangeRequestHeaders gives (none from byte 0: a server that
// answers ranges wrongly still serves the whole file); its events come back through the
// ResumableDownload::On* calls, on the host's thread.
class Transport {
public:
    virtual ~Transport() = default;
    // With ifRange (a validator, "" for none) the server sends the whole file when its file changed.
    virtual bool Send(const std::wstring& url, std::uint64_t rangeFrom, const std::string& ifRange) = 0;  // false: could not be made
    virtual void Abandon() = 0;  // drop the current request; no more events from it
};

// The component's owner: events, message pass, clock, size text.
class Host {
public:
    virtual ~Host() = default;
    virtual void OnHttpState(const std::wstring& totalText, float percentage, const std::wstring& speedText,
                             const std::wstring& presentText) = 0;
    virtual void OnStateChanged(std::int16_t state) = 0;
    virtual void PumpMessages() = 0;   // let the host's pending messages run
    virtual double Seconds() = 0;      // a steady clock
    virtual std::wstring FormatByteSize(std::int64_t bytes) = 0;
};

class ResumableDownload {
public:
    ResumableDownload(FileStore& files, Transport& transport, Host& host);
    ~ResumableDownload();

    // The public methods of the component. Each may be called from inside any host event.
    // publishedSize: the file's size as its publisher announced it. No more bytes are accepted: a server
    // that announces or sends more ends the run refused, with every side file deleted (Oversized()). An
    // answer that announces less is not the file (NotTheFile()); a body without a length that ends short
    // of it is a cut (state 4, resumed at the next start). It also gives the percentage when the server
    // sends no length.
    void Start(const std::wstring& fileName, const std::wstring& url,
               std::optional<std::uint64_t> publishedSize = std::nullopt);
    void Pause();
    void Stop();
    bool Busy() const { return busy_; }

    // Events of the current request.
    void OnResponseStart(const ResponseHead& head);
    void OnData(const std::uint8_t* bytes, std::size_t count);
    void OnFinished();
    void OnError(long code);

    // What the current or last run used (for the host and for tests).
    const SideFiles& CurrentSideFiles() const { return side_; }
    std::uint64_t ResumeOffset() const { return offset_; }
    // Status of the last answer of the current or last run; 0 when none came.
    int LastStatus() const { return lastStatus_; }
    // That answer's Retry-After and Date headers; "" when it carried none.
    const std::string& LastRetryAfter() const { return lastRetryAfter_; }
    const std::string& LastDate() const { return lastDate_; }
    // The last run was refused because the file is larger than its published size.
    bool Oversized() const { return oversized_; }
    // Why the last run's answer was refused as not the published file (a web page, a smaller file),
    // "" when it was not; nothing of that answer was kept.
    const std::string& NotTheFile() const { return notTheFile_; }

private:
    enum class Phase { Idle, Requesting, Receiving };
    void EndRun(std::int16_t state);
    void Finish();
    void RemoveValidator();
    void DropOversized();
    bool Exists(const std::wstring& path) { return files_.Exists(path); }

    FileStore& files_;
    Transport& transport_;
    Host& host_;

    std::wstring fileName_, url_;
    SideFiles side_;
    std::uint64_t offset_ = 0;      // bytes in the data side file when this response's body began
    double total_ = 1;
    double startTime_ = 0;
    std::uint64_t received_ = 0;    // bytes written during this run
    std::optional<std::uint64_t> bodyLength_, remoteSize_;
    bool startedOver_ = false;      // one fresh request after an unusable answer to a resume, never a loop
    std::string validator_;         // of the kept bytes, sent as If-Range ("" for none)
    std::unique_ptr<DataSink> data_;
    bool busy_ = false;
    Phase phase_ = Phase::Idle;
    std::uint64_t run_ = 0;         // changes whenever a run starts or ends: re-entrancy guard
    int lastStatus_ = 0;
    std::string lastRetryAfter_, lastDate_;
    std::optional<std::uint64_t> publishedSize_;
    bool oversized_ = false;
    std::string notTheFile_;
};

}  // namespace vantorix::download
