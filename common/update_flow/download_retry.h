#pragma once
// Which failed downloads are tried again by themselves, after how long, and what the status line says
// meanwhile. A dropped connection or a server error (5xx) usually passes; a refusal such as 404, a
// certificate the system rejects or a disk that cannot be written does not, and is handed to the user.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantorix::update_flow {

// Automatic attempts after the first failure of one download, before the form offers it to the user.
inline constexpr int kMaxDownloadRetries = 3;

// True for the downloader's failure states (4 aborted, 7 refused, 8 request not sent, 10 save path).
bool IsDownloadFailure(int state);
// True when the failure is worth another automatic attempt: a transfer cut short or never answered
// (state 4), or an answer with a server error status (state 7 with 500..599) or 429 (too many requests).
bool IsTransientDownloadFailure(int state, int http_status);
// The wait before automatic attempt `attempt` (1-based): 2 s, 4 s, 8 s, ... growing with each one.
unsigned RetryDelayMs(int attempt);

// The longest wait a server's Retry-After gets: past it the launcher tries anyway (the user waits at the form).
inline constexpr unsigned kMaxRetryAfterMs = 5 * 60 * 1000;

// The seconds a Retry-After value asks for: decimal seconds, or an HTTP date taken against the answer's own
// Date header (the server's clock) when it has a readable one, else against now (seconds since 1970, UTC).
// A date already past asks for 0; nullopt for a value that is neither.
std::optional<uint64_t> RetryAfterSeconds(std::string_view value, std::string_view date_header, int64_t now);

// The wait before automatic attempt `attempt` after an answer with http_status (0 when none came):
//   - the growing delay of RetryDelayMs, spread by a random number (0 <= draw < 1, fresh for every wait)
//     over 0.5 to 1.5 times itself, so launchers that failed together do not come back together;
//   - after a 429 or 503 that carried Retry-After, at least what the server asked (spread the same way
//     over up to a quarter more), never more than kMaxRetryAfterMs.
unsigned RetryWaitMs(int attempt, double draw, int http_status = 0, std::optional<uint64_t> retry_after_seconds = {});
// The status line during the wait: the state's text, then when and which attempt comes
// ("连接服务器失败，2 秒后自动重试（第 1/3 次）").
std::wstring RetryWaitText(int state, int attempt, unsigned delay_ms);
// The status line once the automatic attempts are over: the state's text and what the user can do.
std::wstring RetryOfferText(int state);

}  // namespace vantorix::update_flow
