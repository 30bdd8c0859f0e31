#include "launcher/services/bcrypt_sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include "win/unique_bcrypt.h"

namespace vantorix::services {
namespace {

class BcryptSha256 : public delta::Sha256 {
public:
    BcryptSha256() {
        ok_ = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
              BCRYPT_SUCCESS(BCryptCreateHash(algorithm_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0));
    }
    bool ready() const { return ok_; }
    void Add(const void* data, size_t size) override {
        // BCryptHashData takes a 32-bit count: larger inputs go in pieces.
        auto bytes = static_cast<PUCHAR>(const_cast<void*>(data));
        while (ok_ && size > 0) {
            const ULONG n = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
            ok_ = BCRYPT_SUCCESS(BCryptHashData(hash_.get(), bytes, n, 0));
            bytes += n;
            size -= n;
        }
    }
    std::optional<integrity::Sha256Digest> Finish() override {
        integrity::Sha256Digest digest{};
        if (!ok_ || !BCRYPT_SUCCESS(BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0)))
            return std::nullopt;
        ok_ = false;  // a hash object is finished once
        return digest;
    }

private:
    win::unique_bcrypt_algorithm algorithm_;
    win::unique_bcrypt_hash hash_;
    bool ok_ = false;
};

}  // namespace

std::unique_ptr<delta::Sha256> BcryptSha256Provider::Start() {
    auto digest = std::make_unique<BcryptSha256>();
    if (!digest->ready()) return nullptr;
    return digest;
}

}  // namespace vantorix::services
