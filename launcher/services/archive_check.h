#pragma once
// Checking a downloaded update archive against the size and SHA-256 its manifest publishes.
#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "common/integrity/expected_archive.h"
#include "common/integrity/update_keys.h"

namespace vantorix::services {

// SHA-256 of the bytes of the file, through the platform's crypto API; nullopt when the file cannot be
// read or the API fails. between_blocks runs after every block read (the caller's window stays responsive).
std::optional<integrity::Sha256Digest> Sha256OfFile(const std::wstring& path,
                                                    const std::function<void()>& between_blocks = {});

// SHA-256 of bytes in memory, through the platform's crypto API; nullopt when the API fails.
std::optional<integrity::Sha256Digest> Sha256OfBytes(std::string_view bytes);

// The maker's public key for update signatures: the X and Y coordinates of an ECDSA P-256 point.
using UpdatePublicKey = integrity::PublicKey;

// True when signature (the raw 64 bytes r || s) is a valid ECDSA P-256 signature of digest under the key,
// checked by the platform's crypto API.
bool VerifyDigestSignature(const integrity::Sha256Digest& digest, std::string_view signature, const UpdatePublicKey& key);
// The same over SHA-256(message): the integrity::SignatureCheck of this platform.
bool VerifyMessageSignature(std::string_view message, std::string_view signature, const UpdatePublicKey& key);

// Measures the archive (and hashes it only when a digest is expected and the size matched, or a key is
// given) and judges it. With keys, a valid signature over the archive's digest by one of them is required.
integrity::ArchiveVerdict CheckArchive(const std::wstring& path, const integrity::ExpectedArchive& expected,
                                       const integrity::UpdateKeys& keys = {},
                                       const std::function<void()>& between_blocks = {});

}  // namespace vantorix::services
