#include "tools/release/native/openssl_sha256.h"

#include <openssl/evp.h>

namespace vantorix::delta {
namespace {

class OpenSslSha256 : public Sha256 {
public:
    OpenSslSha256() : context_(EVP_MD_CTX_new()) { ok_ = context_ && EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) == 1; }
    ~OpenSslSha256() override { EVP_MD_CTX_free(context_); }
    OpenSslSha256(const OpenSslSha256&) = delete;
    OpenSslSha256& operator=(const OpenSslSha256&) = delete;

    bool ready() const { return ok_; }
    void Add(const void* data, size_t size) override { ok_ = ok_ && EVP_DigestUpdate(context_, data, size) == 1; }
    std::optional<integrity::Sha256Digest> Finish() override {
        integrity::Sha256Digest digest{};
        unsigned int length = 0;
        if (!ok_ || EVP_DigestFinal_ex(context_, digest.data(), &length) != 1 || length != digest.size()) return std::nullopt;
        ok_ = false;  // a context is finished once
        return digest;
    }

private:
    EVP_MD_CTX* context_;
    bool ok_ = false;
};

}  // namespace

std::unique_ptr<Sha256> OpenSslSha256Provider::Start() {
    auto digest = std::make_unique<OpenSslSha256>();
    if (!digest->ready()) return nullptr;
    return digest;
}

}  // namespace vantorix::delta
