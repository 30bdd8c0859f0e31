#pragma once
// Checking a downloaded update archive against the size and SHA-256 its manifest publishes.
#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "common/integrity/expected_archive.h"

namespace vantorix::services {

// SHA-256 of the bytes of the file, through the platform's crypto API; nullopt when the file cannot be
// read or the API fails. between_blocks runs after every block read (the caller's window stays responsive).
std::optional<integrity::Sha256Digest> Sha256OfFile(const std::wstring& path,
                                                    const std::function<void()>& between_blocks = {});

// The same over a file the caller holds open (a HANDLE), read from its start.
std::optional<integrity::Sha256Digest> Sha256OfOpenFile(void* file, const std::function<void()>& between_blocks = {});

// The maker's public key for update signatures: the X and Y coordinates of an ECDSA P-256 point.
using UpdatePublicKey = std::array<uint8_t, 64>;

// True when signature (the raw 64 bytes r || s) is a valid ECDSA P-256 signature of digest under the key,
// checked by the platform's crypto API.
bool VerifyDigestSignature(const integrity::Sha256Digest& digest, std::string_view signature, const UpdatePublicKey& key);

// Measures the archive (and hashes it only when a digest is expected and the size matched, or a key is
// given) and judges it. With a key, a valid signature over the archive's digest is required.
integrity::ArchiveVerdict CheckArchive(const std::wstring& path, const integrity::ExpectedArchive& expected,
                                       const std::optional<UpdatePublicKey>& key = std::nullopt,
                                       const std::function<void()>& between_blocks = {});
// The same over a file the caller holds open (a HANDLE; nullptr: it could not be opened).
integrity::ArchiveVerdict CheckOpenArchive(void* file, const integrity::ExpectedArchive& expected,
                                           const std::optional<UpdatePublicKey>& key = std::nullopt,
                                           const std::function<void()>& between_blocks = {});

}  // namespace vantorix::services
