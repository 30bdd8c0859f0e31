#pragma once
// Checking a downloaded update archive against the size and SHA-256 its manifest publishes.
#include <string>

#include "common/integrity/expected_archive.h"

namespace vantorix::services {

// SHA-256 of the bytes of the file, through the platform's crypto API; nullopt when the file cannot be
// read or the API fails.
std::optional<integrity::Sha256Digest> Sha256OfFile(const std::wstring& path);

// Measures the archive (and hashes it only when a digest is expected and the size matched) and judges it.
integrity::ArchiveVerdict CheckArchive(const std::wstring& path, const integrity::ExpectedArchive& expected);

}  // namespace vantorix::services
