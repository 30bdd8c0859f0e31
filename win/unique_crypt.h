#pragma once
// Owners of the certificate API's handles: a certificate store, a certificate context and a decoded
// cryptographic message (what CryptQueryObject hands out for a signed file).
#include <windows.h>
#include <wincrypt.h>

#include "win/unique_handle.h"

namespace vantorix::win {

namespace close {
inline void cert_store(HCERTSTORE h) noexcept { ::CertCloseStore(h, 0); }
inline void cert_context(PCCERT_CONTEXT h) noexcept { ::CertFreeCertificateContext(h); }
inline void crypt_msg(HCRYPTMSG h) noexcept { ::CryptMsgClose(h); }
}  // namespace close

using unique_cert_store = unique_any<HCERTSTORE, close::cert_store>;
using unique_cert_context = unique_any<PCCERT_CONTEXT, close::cert_context>;
using unique_crypt_msg = unique_any<HCRYPTMSG, close::crypt_msg>;

}  // namespace vantorix::win
