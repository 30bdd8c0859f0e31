#pragma once
// The manifest address may be pointed elsewhere for tests and demos, but only at this machine: an
// address of any other host would let whatever sets the launcher's environment choose where its
// updates come from.
#include <string>

namespace vantorix::manifest {

// True for an http:// or https:// address whose host is the loopback (127.0.0.1, localhost or [::1]),
// with an optional port and path; false for anything else, user information ("user@host") included.
bool IsLoopbackAddress(const std::wstring& url);

}  // namespace vantorix::manifest
