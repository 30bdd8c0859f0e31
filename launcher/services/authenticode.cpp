#include "launcher/services/authenticode.h"

#include <windows.h>
#include <wincrypt.h>
#include <softpub.h>
#include <wintrust.h>

#include <vector>

#include "launcher/services/wide_text.h"
#include "win/module_path.h"
#include "win/unique_crypt.h"

namespace vantorix::services {

namespace {

// WinVerifyTrust with the generic Authenticode policy: its answer (0 when the signature is valid).
unsigned long VerifyTrust(const std::wstring& path) {
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    // INVALID_HANDLE_VALUE as the window: never any user interface.
    const LONG answer = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return static_cast<unsigned long>(answer);
}

// The certificate of the embedded signature's signer, found in the signature's own store by the issuer
// and serial number the signer names.
win::unique_cert_context SignerCertificate(const std::wstring& path) {
    DWORD encoding = 0, content = 0, format = 0;
    win::unique_cert_store store;
    win::unique_crypt_msg message;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &content, &format, store.put(), message.put(), nullptr))
        return {};
    DWORD size = 0;
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size) || size == 0) return {};
    std::vector<BYTE> info(size);
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &size)) return {};
    const auto* signer = reinterpret_cast<const CERT_INFO*>(info.data());
    return win::unique_cert_context(
        CertGetSubjectCertificateFromStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, const_cast<CERT_INFO*>(signer)));
}

std::string PublicKeyOf(PCCERT_CONTEXT certificate) {
    const CERT_PUBLIC_KEY_INFO& key = certificate->pCertInfo->SubjectPublicKeyInfo;
    std::string text = key.Algorithm.pszObjId ? key.Algorithm.pszObjId : "";
    text += ':';
    text.append(reinterpret_cast<const char*>(key.PublicKey.pbData), key.PublicKey.cbData);
    return text;
}

std::string NameOf(PCCERT_CONTEXT certificate) {
    wchar_t name[256] = {};
    CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, ARRAYSIZE(name));
    return Utf8(name);
}

}  // namespace

integrity::SignatureFacts ReadAuthenticode(const std::wstring& path) {
    integrity::SignatureFacts facts;
    facts.code = VerifyTrust(path);
    facts.valid = facts.code == 0;
    if (const win::unique_cert_context signer = SignerCertificate(path)) {
        facts.signer_key = PublicKeyOf(signer.get());
        facts.signer_name = NameOf(signer.get());
    }
    return facts;
}

integrity::SignatureFacts ReadOwnAuthenticode() {
    // Read once a process: the file of a running image cannot be written while it is mapped, and a step's
    // commit may move it aside after the first reading.
    static const integrity::SignatureFacts own = [] {
        const std::wstring self = win::ModulePath();
        if (self.empty()) return integrity::SignatureFacts{false, GetLastError(), "", ""};
        return ReadAuthenticode(self);
    }();
    return own;
}

}  // namespace vantorix::services
