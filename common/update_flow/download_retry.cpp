#include "common/update_flow/download_retry.h"

#include <algorithm>

#include "common/update_flow/http_time.h"
#include "common/update_flow/texts.h"
#include "common/update_flow/update_flow.h"

namespace vantorix::update_flow {

namespace {
constexpr int kAborted = 4, kRefused = 7, kSendFailed = 8, kSavePathError = 10;
constexpr int kTooManyRequests = 429, kUnavailable = 503;
constexpr unsigned kFirstRetryDelayMs = 2000;

double ClampDraw(double draw) { return draw >= 0 && draw < 1 ? draw : 0.5; }
}  // namespace

bool IsDownloadFailure(int state) {
    return state == kAborted || state == kRefused || state == kSendFailed || state == kSavePathError;
}

bool IsTransientDownloadFailure(int state, int http_status) {
    return state == kAborted ||
           (state == kRefused && ((http_status >= 500 && http_status <= 599) || http_status == kTooManyRequests));
}

unsigned RetryDelayMs(int attempt) {
    const int doublings = attempt < 1 ? 0 : (attempt > 8 ? 7 : attempt - 1);
    return kFirstRetryDelayMs << doublings;
}

std::optional<uint64_t> RetryAfterSeconds(std::string_view value, std::string_view date_header, int64_t now) {
    const auto first = value.find_first_not_of(" \t"), last = value.find_last_not_of(" \t");
    if (first == std::string_view::npos) return std::nullopt;
    value = value.substr(first, last - first + 1);
    if (value.find_first_not_of("0123456789") == std::string_view::npos) {
        uint64_t seconds = 0;
        for (char c : value) seconds = std::min<uint64_t>(seconds * 10 + static_cast<uint64_t>(c - '0'), UINT32_MAX);
        return seconds;
    }
    const auto when = ParseHttpDate(value);
    if (!when) return std::nullopt;
    const int64_t reference = ParseHttpDate(date_header).value_or(now);
    return *when > reference ? static_cast<uint64_t>(*when - reference) : 0;
}

unsigned RetryWaitMs(int attempt, double draw, int http_status, std::optional<uint64_t> retry_after_seconds) {
    draw = ClampDraw(draw);
    const double spread = RetryDelayMs(attempt) * (0.5 + draw);
    double wait = spread;
    if (retry_after_seconds && (http_status == kTooManyRequests || http_status == kUnavailable)) {
        const double asked = std::min<double>(static_cast<double>(*retry_after_seconds) * 1000.0, kMaxRetryAfterMs);
        wait = std::max(spread, std::min<double>(asked * (1.0 + draw / 4), kMaxRetryAfterMs));
    }
    return static_cast<unsigned>(wait);
}

std::wstring RetryWaitText(int state, int attempt, unsigned delay_ms) {
    return StateText(state) + text::kRetryAfter + std::to_wstring((delay_ms + 999) / 1000) + text::kRetrySeconds +
           std::to_wstring(attempt) + L"/" + std::to_wstring(kMaxDownloadRetries) + text::kRetryAttemptEnd;
}

std::wstring RetryOfferText(int state) { return StateText(state) + text::kRetryByHand; }

}  // namespace vantorix::update_flow
