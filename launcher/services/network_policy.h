#pragma once
// How every WinHTTP session of the launcher meets the network: TLS 1.2 (and 1.3 where the system has it)
// also on Windows 7, whose WinHTTP offers only TLS 1.0 unless told otherwise.
#include <windows.h>
#include <winhttp.h>

namespace vantorix::services {

// Enables TLS 1.2 and 1.3 on a session; TLS 1.2 alone where the system does not know 1.3.
void EnableModernTls(HINTERNET session);

}  // namespace vantorix::services
