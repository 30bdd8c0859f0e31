#pragma once
// Times as servers and the manifest write them, read into seconds since 1970-01-01 00:00:00 UTC.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantorix::update_flow {

// An HTTP date in any of its three forms: "Sun, 06 Nov 1994 08:49:37 GMT", the obsolete
// "Sunday, 06-Nov-94 08:49:37 GMT" (a two-digit year is 19xx from 70 on, else 20xx) and asctime's
// "Sun Nov  6 08:49:37 1994". nullopt for anything else, an impossible date included.
std::optional<int64_t> ParseHttpDate(std::string_view text);

// "2026-05-01T08:00:00Z", the form the release tool writes into the manifest; nullopt for anything else.
std::optional<int64_t> ParseUtcTime(std::string_view text);
// The same form written back from seconds.
std::string UtcTimeText(int64_t seconds);

}  // namespace vantorix::update_flow
