// trust_root add|remove CERT.der: puts a root certificate into, or takes it out of, the machine's
// "Root" store, the store an administrator uses for a company CA. The HTTPS tests trust their own CA
// this way instead of turning certificate checks off.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fwprintf(stderr, L"usage: trust_root add|remove CERT.der\n");
        return 2;
    }
    const std::wstring action = argv[1];
    std::ifstream in(argv[2], std::ios::binary);
    std::vector<BYTE> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (der.empty()) {
        std::fwprintf(stderr, L"cannot read %ls\n", argv[2]);
        return 2;
    }
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store) {
        std::fwprintf(stderr, L"cannot open the Root store: %lu\n", GetLastError());
        return 1;
    }
    int rc = 0;
    if (action == L"add") {
        if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                              CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
            std::fwprintf(stderr, L"cannot add: %lu\n", GetLastError());
            rc = 1;
        }
    } else if (action == L"remove") {
        PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
        PCCERT_CONTEXT found = wanted ? CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr) : nullptr;
        if (found) CertDeleteCertificateFromStore(found);  // frees found
        if (wanted) CertFreeCertificateContext(wanted);
    } else {
        rc = 2;
    }
    CertCloseStore(store, 0);
    return rc;
}
