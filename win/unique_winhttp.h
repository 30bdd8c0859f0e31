#pragma once
// Owner of a WinHTTP handle (session, connection, request). Kept apart from unique_handle.h because
// winhttp.h and wininet.h cannot both be included in one translation unit.
#include <windows.h>
#include <winhttp.h>

#include "win/unique_handle.h"

namespace vantorix::win {

namespace close {
inline void hinternet(HINTERNET h) noexcept { ::WinHttpCloseHandle(h); }
// Strings WinHTTP hands out (proxy settings and choices) are the caller's to free with GlobalFree.
inline void winhttp_string(LPWSTR s) noexcept { ::GlobalFree(s); }
}  // namespace close

using unique_hinternet = unique_any<HINTERNET, close::hinternet>;
using unique_winhttp_string = unique_any<LPWSTR, close::winhttp_string>;

}  // namespace vantorix::win
