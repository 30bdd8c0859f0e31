#pragma once
// Which failed downloads are tried again by themselves, after how long, and what the status line says
// meanwhile. A dropped connection or a server error (5xx) usually passes; a refusal such as 404, a
// certificate the system rejects or a disk that cannot be written does not, and is handed to the user.
#include <string>

namespace vantorix::update_flow {

// Automatic attempts after the first failure of one download, before the form offers it to the user.
inline constexpr int kMaxDownloadRetries = 3;

// True for the downloader's failure states (4 aborted, 7 refused, 8 request not sent, 10 save path).
bool IsDownloadFailure(int state);
// True when the failure is worth another automatic attempt: a transfer cut short or never answered
// (state 4), or an answer with a server error status (state 7 with 500..599).
bool IsTransientDownloadFailure(int state, int http_status);
// The wait before automatic attempt `attempt` (1-based): 2 s, 4 s, 8 s, ... growing with each one.
unsigned RetryDelayMs(int attempt);
// The status line during the wait: the state's text, then when and which attempt comes
// ("连接服务器失败，2 秒后自动重试（第 1/3 次）").
std::wstring RetryWaitText(int state, int attempt, unsigned delay_ms);
// The status line once the automatic attempts are over: the state's text and what the user can do.
std::wstring RetryOfferText(int state);

}  // namespace vantorix::update_flow
