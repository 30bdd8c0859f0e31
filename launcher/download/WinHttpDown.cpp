#include "launcher/download/WinHttpDown.h"

#include <windows.h>
#include <shlwapi.h>

#include "common/download/progress.h"
#include "common/download/resumable_download.h"
#include "launcher/download/win_file_store.h"
#include "launcher/download/winhttp_transport.h"
#include "win/code_page.h"
#include "win/message_pump.h"

namespace vantorix::launcher {

std::wstring FormatByteSizeText(double bytes) {
    char text[128] = {};
    ::StrFormatByteSize64A(download::ByteCountForText(bytes), text, sizeof(text));
    return win::FromCodePage(text);
}

// Joins the run logic to the Windows pieces: WinHTTP in, files out, events to the owner's handlers.
class DownloadEngineHost : public download::Host, public TransportEvents {
public:
    DownloadEngineHost(WinHttpDown& owner, std::unique_ptr<download::FileStore> files)
        : owner_(owner), files_(std::move(files)), transport_(*this), run_(*files_, transport_, *this) {
        LARGE_INTEGER frequency{};
        ::QueryPerformanceFrequency(&frequency);
        frequency_ = static_cast<double>(frequency.QuadPart);
    }

    download::ResumableDownload& Run() { return run_; }

    // download::Host
    void OnHttpState(const std::wstring& total, float percentage, const std::wstring& speed,
                     const std::wstring& present) override {
        if (!owner_.HttpState) return;
        const double before = ThreadCpuSeconds();
        owner_.HttpState(total, percentage, speed, present);
        handler_cpu_ += ThreadCpuSeconds() - before;
        ++blocks_;
    }
    void OnStateChanged(std::int16_t state) override {
        if (state == download::kRequesting) handler_cpu_ = pump_cpu_ = 0, blocks_ = 0;
        if (owner_.StateChanged) owner_.StateChanged(state);
    }
    void PumpMessages() override {
        const double before = ThreadCpuSeconds();
        win::PumpPendingMessages();
        pump_cpu_ += ThreadCpuSeconds() - before;
    }
    WinHttpDown::HostCost Cost() const { return {handler_cpu_, pump_cpu_, blocks_}; }
    double Seconds() override {
        // A steady clock: the time of day would jump back at midnight and spoil the speed.
        LARGE_INTEGER now{};
        ::QueryPerformanceCounter(&now);
        return frequency_ > 0 ? static_cast<double>(now.QuadPart) / frequency_ : 0.0;
    }
    std::wstring FormatByteSize(std::int64_t bytes) override { return FormatByteSizeText(static_cast<double>(bytes)); }

    // TransportEvents
    void OnResponseStart(const download::ResponseHead& head) override { run_.OnResponseStart(head); }
    void OnData(const std::uint8_t* bytes, std::size_t count) override { run_.OnData(bytes, count); }
    void OnFinished() override { run_.OnFinished(); }
    void OnError(long code) override { run_.OnError(code); }

private:
    static double ThreadCpuSeconds() {
        FILETIME created{}, exited{}, kernel{}, user{};
        if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
        auto ticks = [](const FILETIME& t) { return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
        return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
    }

    WinHttpDown& owner_;
    // This run's processor time in the host's progress handler and in the messages let run after each
    // block, and the number of blocks.
    double handler_cpu_ = 0, pump_cpu_ = 0;
    unsigned blocks_ = 0;
    std::unique_ptr<download::FileStore> files_;
    WinHttpTransport transport_;
    download::ResumableDownload run_;
    double frequency_ = 0;
};

WinHttpDown::WinHttpDown() : WinHttpDown(std::make_unique<WinFileStore>()) {}

WinHttpDown::WinHttpDown(std::unique_ptr<download::FileStore> files)
    : host_(std::make_unique<DownloadEngineHost>(*this, std::move(files))) {}

WinHttpDown::~WinHttpDown() = default;

void WinHttpDown::GetStart() { host_->Run().Start(FileName, URL, PublishedSize); }
void WinHttpDown::GetPause() { host_->Run().Pause(); }
void WinHttpDown::GetStop() { host_->Run().Stop(); }
bool WinHttpDown::Busy() const { return host_->Run().Busy(); }
int WinHttpDown::LastHttpStatus() const { return host_->Run().LastStatus(); }
std::string WinHttpDown::LastRetryAfter() const { return host_->Run().LastRetryAfter(); }
std::string WinHttpDown::LastDate() const { return host_->Run().LastDate(); }
bool WinHttpDown::Oversized() const { return host_->Run().Oversized(); }
std::string WinHttpDown::NotTheFile() const { return host_->Run().NotTheFile(); }
WinHttpDown::HostCost WinHttpDown::Cost() const { return host_->Cost(); }

}  // namespace vantorix::launcher
