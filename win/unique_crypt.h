#pragma once
// Owners of the certificate API's handles: a certificate store, a certificate context and a decoded
// cryptographic message (what CryptQueryObject hands out for a signed file).
#include <windows.h>
#include <wincrypt.h>

#include "win/unique_handle.h"

namespace vantorix::win {

struct cert_store_traits {
    using pointer = HCERTSTORE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::CertCloseStore(h, 0); }
};
struct cert_context_traits {
    using pointer = PCCERT_CONTEXT;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::CertFreeCertificateContext(h); }
};
struct crypt_msg_traits {
    using pointer = HCRYPTMSG;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::CryptMsgClose(h); }
};
using unique_cert_store = unique_handle<cert_store_traits>;
using unique_cert_context = unique_handle<cert_context_traits>;
using unique_crypt_msg = unique_handle<crypt_msg_traits>;

}  // namespace vantorix::win
