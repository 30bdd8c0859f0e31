#pragma once
// Reading a file's Authenticode signature through the system: WinVerifyTrust's verdict (no user
// interface, no revocation check, no network) and the signer's certificate from the embedded signature
// (CryptQueryObject), whose public key the caller compares.
#include <string>

#include "common/integrity/publisher_signature.h"

namespace vantorix::services {

integrity::SignatureFacts ReadAuthenticode(const std::wstring& path);

// The same for the running program's own file, read once a process.
integrity::SignatureFacts ReadOwnAuthenticode();

}  // namespace vantorix::services
