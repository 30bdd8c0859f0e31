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
    std::optional<std::string> signature{};  // raw ECDSA P-256 r || s (64 bytes) over the archive's SHA-256
    bool Any() const { return size.has_value() || sha256.has_value(); }
};

// Each text may be empty (not published). nullopt when a published value is malformed: "size" must be
// decimal digits up to kMaxArchiveSize, "sha256" exactly 64 hexadecimal digits (either case),
// "signature" base64 of exactly 64 bytes.
std::optional<ExpectedArchive> ParseExpectedArchive(std::string_view size_text, std::string_view sha256_text,
                                                    std::string_view signature_text = {});

enum class ArchiveVerdict { Matches, WrongSize, WrongHash, Unreadable, MissingSignature, BadSignature };

// The archive as found on disk: its size, and its digest when one was computed (the caller hashes only
// when a digest is expected and the size already matched).
struct FoundArchive {
    std::optional<uint64_t> size;  // nullopt: the file could not be read
    std::optional<Sha256Digest> sha256;
    std::optional<bool> signature_valid{};  // when a key is built in and a signature was checked
};

// signature_required: the build carries the maker's key; then nothing is unpacked without a valid
// signature, whatever else the manifest publishes or the URL's scheme.
ArchiveVerdict Judge(const ExpectedArchive& expected, const FoundArchive& found, bool signature_required = false);

// Standard base64 (RFC 4648, with padding, no line breaks) decoded; nullopt for anything else.
std::optional<std::string> DecodeBase64(std::string_view text);

// Lower-case hexadecimal text of a digest.
std::string HexText(const Sha256Digest& digest);

}  // namespace vantorix::integrity
