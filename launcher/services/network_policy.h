#pragma once
// How every WinHTTP session of the launcher meets the network: TLS 1.2 (and 1.3 where the system has it)
// also on Windows 7, whose WinHTTP offers only TLS 1.0 unless told otherwise; the proxy the user's
// settings choose, automatic configuration included; certificate revocation checked.
#include <windows.h>
#include <winhttp.h>

#include <optional>
#include <string>

#include "win/unique_winhttp.h"

namespace vantorix::services {

// Opens a WinHTTP session for fetching url (flags: 0 or WINHTTP_FLAG_ASYNC) with TLS 1.2 and 1.3 enabled
// (TLS 1.2 alone where the system does not know 1.3) and the proxy the current user's settings choose for
// url: the automatic configuration's choice (WPAD, or the configuration script's address) when the user
// has it on, else the user's manual proxy; without user settings, or when the automatic configuration
// finds nothing, the machine's default. The proxy is chosen before the session is opened because some
// WinHTTP implementations honour a proxy only when it is given to WinHttpOpen.
win::unique_hinternet OpenSession(const std::wstring& url, DWORD flags);

// Asks the system to check the server certificate's revocation on this request.
void EnableRevocationCheck(HINTERNET request);

// Whether a request that failed with error (and the secure-failure flags WinHTTP reported, 0 when none) may
// be sent again without the revocation check: when the revocation server could not be reached, and when the
// system gives no reason for a failed secure channel (Wine's WinHTTP, for one, reports every certificate
// failure so). The second request still checks the chain, the name and the dates, so only revocation is
// given up; a certificate reported revoked is never sent again.
bool MayRetryWithoutRevocation(DWORD error, DWORD secure_failure_flags);

}  // namespace vantorix::services
