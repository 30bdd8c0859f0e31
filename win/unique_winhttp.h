#pragma once
// Owner of a WinHTTP handle (session, connection, request). Kept apart from unique_handle.h because
// winhttp.h and wininet.h cannot both be included in one translation unit.
#include <windows.h>
#include <winhttp.h>

#include "win/unique_handle.h"

namespace vantorix::win {

struct hinternet_traits {
    using pointer = HINTERNET;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::WinHttpCloseHandle(h); }
};
using unique_hinternet = unique_handle<hinternet_traits>;

// Strings WinHTTP hands out (proxy settings and choices) are the caller's to free with GlobalFree.
struct winhttp_string_traits {
    using pointer = LPWSTR;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer s) noexcept { ::GlobalFree(s); }
};
using unique_winhttp_string = unique_handle<winhttp_string_traits>;

}  // namespace vantorix::win
