#include "common/download/resumable_download.h"

#include "common/download/progress.h"
#include "common/download/validator.h"

namespace vantorix::download {

ResumableDownload::ResumableDownload(FileStore& files, Transport& transport, Host& host)
    : files_(files), transport_(transport), host_(host) {}

ResumableDownload::~ResumableDownload() {
    if (busy_) transport_.Abandon();
}

void ResumableDownload::Start(const std::wstring& fileName, const std::wstring& url,
                              std::optional<std::uint64_t> publishedSize) {
    if (busy_) return;
    busy_ = true;
    received_ = 0;
    publishedSize_ = publishedSize;
    oversized_ = false;
    notTheFile_.clear();
    startedOver_ = false;
    phase_ = Phase::Requesting;
    const auto run = ++run_;
    host_.OnStateChanged(kRequesting);
    if (run != run_) return;  // the handler paused or stopped already

    fileName_ = fileName;
    url_ = url;
    lastStatus_ = 0;
    lastRetryAfter_.clear();
    lastDate_.clear();
    side_ = DefaultSideFiles(fileName_);
    offset_ = 0;
    // Numbered side files need a folder to live in; a bare name cannot take part in the scheme.
    if (!HasFolder(fileName_)) return EndRun(kSavePathError);

    const bool dataExists = Exists(side_.data), settingsExists = Exists(side_.settings);
    const std::optional<std::wstring> stored =
        dataExists && settingsExists ? files_.ReadText(side_.settings) : std::nullopt;
    const ResumeDecision decision = DecideResume(dataExists, settingsExists, stored, url_);
    validator_.clear();
    if (decision.resume) {
        offset_ = files_.SizeOf(side_.data).value_or(0);
        if (Exists(side_.Validator())) {
            // A tag that is no validator cannot tell which version the kept bytes belong to: they are
            // fetched again whole, and nothing of the tag reaches a request.
            const std::optional<std::wstring> text = files_.ReadText(side_.Validator());
            const std::optional<std::string> tag = text ? ParseValidatorTag(*text) : std::nullopt;
            if (tag) validator_ = *tag;
            else offset_ = 0;
        }
    }
    if (decision.pickNewNames) {
        auto picked = PickSideFiles(fileName_, [this](const std::wstring& p) { return Exists(p); });
        if (!picked) return EndRun(kSavePathError);
        side_ = *picked;
    }
    if (!transport_.Send(NormalizeUrl(url_), offset_, offset_ > 0 ? validator_ : std::string())) {
        busy_ = false;
        phase_ = Phase::Idle;
        ++run_;
        host_.OnStateChanged(kSendFailed);
    }
}

void ResumableDownload::OnResponseStart(const ResponseHead& head) {
    if (!busy_ || phase_ != Phase::Requesting) return;
    lastStatus_ = head.status;
    lastRetryAfter_ = head.retryAfter.value_or("");
    lastDate_ = head.date.value_or("");
    const auto run = run_;
    host_.OnStateChanged(kHeaders);
    if (run != run_) return;

    const ResponsePlan plan = PlanResponse(head, offset_, validator_);
    switch (plan.kind) {
    case ResponsePlan::Refuse:
        return EndRun(kRefused);
    case ResponsePlan::Complete:
        transport_.Abandon();  // the answer's own body is an error page, not data
        if (!Exists(side_.data) && !files_.OpenData(side_.data)) return EndRun(kSavePathError);  // empty file
        return Finish();
    case ResponsePlan::StartOver:
        // The data side file does not match the remote file, or the server cannot resume it: fetch all
        // of it again, once.
        if (startedOver_) return EndRun(kRefused);
        startedOver_ = true;
        transport_.Abandon();
        offset_ = 0;
        validator_.clear();
        if (!transport_.Send(NormalizeUrl(url_), 0, std::string())) return EndRun(kSendFailed);
        return;
    case ResponsePlan::Accept:
        break;
    }
    if (publishedSize_) {
        const std::optional<std::uint64_t> announced =
            plan.remoteSize ? plan.remoteSize
                            : plan.bodyLength ? std::optional<std::uint64_t>(plan.writeFrom + *plan.bodyLength) : std::nullopt;
        if (announced && *announced > *publishedSize_) return DropOversized();
    }
    // Checked before any side file is touched: nothing of such an answer is written, and bytes kept from
    // an earlier answer stay for the next start.
    notTheFile_ = NotThePublishedFile(head, plan, publishedSize_);
    if (!notTheFile_.empty()) return EndRun(kRefused);

    data_ = files_.OpenData(side_.data);
    if (!data_) return EndRun(kSavePathError);
    if (!files_.WriteText(side_.settings, url_)) return EndRun(kSavePathError);
    // The version these bytes belong to, for If-Range at the next resume; none known, none kept.
    const std::string answered = ValidatorOf(head);
    if (plan.writeFrom == 0 || !answered.empty()) validator_ = answered;
    if (validator_.empty()) RemoveValidator();
    else if (!files_.WriteText(side_.Validator(), std::wstring(validator_.begin(), validator_.end()))) return EndRun(kSavePathError);
    // A 200 to a resumed request carries the whole file: it replaces what the data side file held.
    offset_ = plan.writeFrom;
    if (!data_->SeekTo(offset_) || !data_->TruncateHere()) return EndRun(kSavePathError);
    // Without a length from the server, the published size is the whole.
    total_ = !plan.bodyLength && !plan.remoteSize && publishedSize_ ? static_cast<double>(*publishedSize_) : plan.totalSize;
    bodyLength_ = plan.bodyLength;
    remoteSize_ = plan.remoteSize;
    received_ = 0;
    startTime_ = host_.Seconds();
    phase_ = Phase::Receiving;
    host_.OnStateChanged(kReceiving);
}

void ResumableDownload::OnData(const std::uint8_t* bytes, std::size_t count) {
    if (!busy_ || phase_ != Phase::Receiving || count == 0) return;
    if (publishedSize_ && offset_ + received_ + count > *publishedSize_) return DropOversized();
    if (!data_->Write(bytes, count)) return EndRun(kSavePathError);
    received_ += count;
    // Everything the host can see is settled before it runs: the block is on disk, the counters match.
    const double present = static_cast<double>(received_ + offset_);
    const float percentage = Percentage(present, total_);
    const double speed = AverageSpeed(static_cast<double>(received_), host_.Seconds() - startTime_);
    host_.OnHttpState(host_.FormatByteSize(ByteCountForText(total_)), percentage,
                      host_.FormatByteSize(ByteCountForText(speed)), host_.FormatByteSize(ByteCountForText(present)));
    host_.PumpMessages();
}

void ResumableDownload::OnFinished() {
    if (!busy_ || phase_ != Phase::Receiving) return;
    data_.reset();
    // A body shorter than announced is a cut, not an end: keep both side files for the next start.
    if (bodyLength_ && received_ != *bodyLength_) return EndRun(kAborted);
    if (remoteSize_ && offset_ + received_ != *remoteSize_) return EndRun(kAborted);
    // Without a length from the server the end of the connection ends the body: short of the published
    // size it was cut, and the next start asks for the rest.
    if (publishedSize_ && offset_ + received_ < *publishedSize_) return EndRun(kAborted);
    Finish();
}

void ResumableDownload::OnError(long) {
    if (!busy_) return;
    EndRun(kAborted);
}

void ResumableDownload::Pause() {
    if (!busy_) return;
    EndRun(kPaused);
}

void ResumableDownload::Stop() {
    if (!busy_) return;
    transport_.Abandon();
    data_.reset();
    if (Exists(side_.settings)) files_.Remove(side_.settings);
    RemoveValidator();
    EndRun(kStopped);
}

void ResumableDownload::RemoveValidator() {
    if (Exists(side_.Validator())) files_.Remove(side_.Validator());
}

void ResumableDownload::DropOversized() {
    // Not the published file: nothing of it is kept, nor resumed at the next start.
    transport_.Abandon();
    data_.reset();
    for (const std::wstring& path : {side_.data, side_.settings, side_.Validator()})
        if (Exists(path)) files_.Remove(path);
    oversized_ = true;
    EndRun(kRefused);
}

void ResumableDownload::EndRun(std::int16_t state) {
    transport_.Abandon();
    data_.reset();
    busy_ = false;
    phase_ = Phase::Idle;
    ++run_;
    host_.OnStateChanged(state);
}

void ResumableDownload::Finish() {
    transport_.Abandon();
    data_.reset();
    const auto target = ChooseTarget(fileName_, [this](const std::wstring& p) { return Exists(p); });
    // The settings side file goes only once the data is in place, so a failed rename can be resumed.
    if (!target || !files_.Rename(side_.data, *target)) return EndRun(kSavePathError);
    if (Exists(side_.settings)) files_.Remove(side_.settings);
    RemoveValidator();
    EndRun(kComplete);
}

}  // namespace vantorix::download
