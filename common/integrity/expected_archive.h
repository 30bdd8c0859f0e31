#pragma once
// What the manifest says the update archive must be ("size" and "sha256" of "Version_date"), and the
// decision whether a downloaded archive is that archive. Hashing itself belongs to the platform.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantorix::integrity {

using Sha256Digest = std::array<uint8_t, 32>;

// Sizes above this are refused as malformed: the downloader cannot hold more.
inline constexpr uint64_t kMaxArchiveSize = 0x7FFFFFFFull;

struct ExpectedArchive {
    std::optional<uint64_t> size;
    std::optional<Sha256Digest> sha256;
    bool Any() const { return size.has_value() || sha256.has_value(); }
};

// Each text may be empty (not published). nullopt when a published value is malformed: "size" must be
// decimal digits up to kMaxArchiveSize, "sha256" exactly 64 hexadecimal digits (either case).
std::optional<ExpectedArchive> ParseExpectedArchive(std::string_view size_text, std::string_view sha256_text);

enum class ArchiveVerdict { Matches, WrongSize, WrongHash, Unreadable };

// The archive as found on disk: its size, and its digest when one was computed (the caller hashes only
// when a digest is expected and the size already matched).
struct FoundArchive {
    std::optional<uint64_t> size;  // nullopt: the file could not be read
    std::optional<Sha256Digest> sha256;
};

ArchiveVerdict Judge(const ExpectedArchive& expected, const FoundArchive& found);

// Standard base64 (RFC 4648, with padding, no line breaks) decoded; nullopt for anything else.
std::optional<std::string> DecodeBase64(std::string_view text);

// Lower-case hexadecimal text of a digest.
std::string HexText(const Sha256Digest& digest);

}  // namespace vantorix::integrity
