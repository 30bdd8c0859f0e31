#include "common/update_flow/download_retry.h"

#include "common/update_flow/texts.h"
#include "common/update_flow/update_flow.h"

namespace vantorix::update_flow {

namespace {
constexpr int kAborted = 4, kRefused = 7, kSendFailed = 8, kSavePathError = 10;
constexpr unsigned kFirstRetryDelayMs = 2000;
}  // namespace

bool IsDownloadFailure(int state) {
    return state == kAborted || state == kRefused || state == kSendFailed || state == kSavePathError;
}

bool IsTransientDownloadFailure(int state, int http_status) {
    return state == kAborted || (state == kRefused && http_status >= 500 && http_status <= 599);
}

unsigned RetryDelayMs(int attempt) {
    const int doublings = attempt < 1 ? 0 : (attempt > 8 ? 7 : attempt - 1);
    return kFirstRetryDelayMs << doublings;
}

std::wstring RetryWaitText(int state, int attempt, unsigned delay_ms) {
    return StateText(state) + text::kRetryAfter + std::to_wstring((delay_ms + 999) / 1000) + text::kRetrySeconds +
           std::to_wstring(attempt) + L"/" + std::to_wstring(kMaxDownloadRetries) + text::kRetryAttemptEnd;
}

std::wstring RetryOfferText(int state) { return StateText(state) + text::kRetryByHand; }

}  // namespace vantorix::update_flow
