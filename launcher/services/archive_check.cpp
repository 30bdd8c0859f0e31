// SHA-256 through BCrypt, read in large blocks, and the archive check built on it.
#include "launcher/services/archive_check.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <vector>

#include "launcher/services/bcrypt_sha256.h"
#include "win/unique_bcrypt.h"
#include "win/unique_handle.h"

namespace vantorix::services {
namespace {

constexpr DWORD kHashBlock = 1 << 20;

win::unique_hfile OpenForReading(const std::wstring& path) {
    return win::unique_hfile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}


}  // namespace

std::optional<integrity::Sha256Digest> Sha256OfFile(const std::wstring& path, const std::function<void()>& between_blocks) {
    win::unique_hfile file = OpenForReading(path);
    if (!file) return std::nullopt;
    auto hash = BcryptSha256Provider().Start();
    if (!hash) return std::nullopt;
    std::vector<UCHAR> block(kHashBlock);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), block.data(), kHashBlock, &got, nullptr)) return std::nullopt;
        if (got == 0) break;
        hash->Add(block.data(), got);
        if (between_blocks) between_blocks();
    }
    return hash->Finish();
}

std::optional<integrity::Sha256Digest> Sha256OfBytes(std::string_view bytes) {
    auto hash = BcryptSha256Provider().Start();
    if (!hash) return std::nullopt;
    hash->Add(bytes.data(), bytes.size());
    return hash->Finish();
}

bool VerifyDigestSignature(const integrity::Sha256Digest& digest, std::string_view signature, const UpdatePublicKey& key) {
    constexpr size_t kSignatureBytes = 64;
    if (signature.size() != kSignatureBytes) return false;
    win::unique_bcrypt_algorithm algorithm;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) return false;
    // BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y of 32 bytes each.
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + key.size());
    auto* header = reinterpret_cast<BCRYPT_ECCKEY_BLOB*>(blob.data());
    header->dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header->cbKey = 32;
    std::copy(key.begin(), key.end(), blob.begin() + sizeof(BCRYPT_ECCKEY_BLOB));
    win::unique_bcrypt_key public_key;
    if (!BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, public_key.put(), blob.data(),
                                            static_cast<ULONG>(blob.size()), 0)))
        return false;
    std::vector<UCHAR> digest_bytes(digest.begin(), digest.end()), signature_bytes(signature.begin(), signature.end());
    return BCryptVerifySignature(public_key.get(), nullptr, digest_bytes.data(), static_cast<ULONG>(digest_bytes.size()),
                                 signature_bytes.data(), static_cast<ULONG>(signature_bytes.size()), 0) == 0;
}

bool VerifyMessageSignature(std::string_view message, std::string_view signature, const UpdatePublicKey& key) {
    const auto digest = Sha256OfBytes(message);
    return digest && VerifyDigestSignature(*digest, signature, key);
}

integrity::ArchiveVerdict CheckArchive(const std::wstring& path, const integrity::ExpectedArchive& expected,
                                       const integrity::UpdateKeys& keys,
                                       const std::function<void()>& between_blocks) {
    integrity::FoundArchive found;
    const bool key = keys.Any();
    if (!expected.Any() && !key) return integrity::Judge(expected, found);
    {
        win::unique_hfile file = OpenForReading(path);
        LARGE_INTEGER size{};
        if (file && GetFileSizeEx(file.get(), &size)) found.size = static_cast<uint64_t>(size.QuadPart);
    }
    // Hashing a file of the wrong size would only confirm what the size already says.
    const bool size_ok = found.size && (!expected.size || *expected.size == *found.size);
    if (size_ok && (expected.sha256 || (key && expected.signature))) found.sha256 = Sha256OfFile(path, between_blocks);
    if (key && expected.signature && found.sha256) {
        found.signature_valid = false;
        for (const auto& built_in : {keys.current, keys.next})
            if (built_in && VerifyDigestSignature(*found.sha256, *expected.signature, *built_in)) found.signature_valid = true;
    }
    return integrity::Judge(expected, found, key);
}

}  // namespace vantorix::services
