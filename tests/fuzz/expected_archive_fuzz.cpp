// What the manifest says the archive must be, and the verdict on a found archive. Input, one field a
// line: the "size", "sha256" and "signature" texts, then letters that describe the archive found
// ('s' its size as expected, 'h' its digest as expected, 'v' a valid and 'b' a bad signature, 'u' unreadable,
// 'r' the build requires a signature). Checks that accepted texts read back as written, and that a
// verdict of Matches is given only to an archive that is what was published.
#include <algorithm>
#include <cctype>
#include <string>

#include "common/integrity/expected_archive.h"
#include "fuzz_support.h"

using namespace vantorix::integrity;

namespace {

std::string EncodeBase64(const std::string& bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k) out += k <= n ? kDigits[group >> (18 - 6 * k) & 63] : '=';
    }
    return out;
}

std::string Lower(std::string_view text) {
    std::string out;
    for (char c : text) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fields = fuzz_support::Fields(fuzz_support::Text(data, size), 4);
    const auto field = [&](std::size_t i) { return i < fields.size() ? fields[i] : std::string_view(); };
    const std::string_view size_text = field(0), sha_text = field(1), signature_text = field(2), found_text = field(3);

    if (const auto decoded = DecodeBase64(signature_text)) FUZZ_CHECK(DecodeBase64(EncodeBase64(*decoded)) == decoded);

    const std::optional<ExpectedArchive> expected = ParseExpectedArchive(size_text, sha_text, signature_text);
    if (!expected) return 0;
    FUZZ_CHECK(expected->size.has_value() == !size_text.empty());
    if (expected->size) {
        FUZZ_CHECK(*expected->size <= kMaxArchiveSize);
        FUZZ_CHECK(std::stoull(std::string(size_text)) == *expected->size);
    }
    FUZZ_CHECK(expected->sha256.has_value() == !sha_text.empty());
    if (expected->sha256) FUZZ_CHECK(HexText(*expected->sha256) == Lower(sha_text));
    FUZZ_CHECK(expected->signature.has_value() == !signature_text.empty());
    if (expected->signature) FUZZ_CHECK(expected->signature->size() == 64 && DecodeBase64(signature_text) == expected->signature);

    const auto has = [&](char c) { return found_text.find(c) != std::string_view::npos; };
    FoundArchive found;
    if (!has('u')) found.size = has('s') && expected->size ? *expected->size : expected->size.value_or(0) + 1;
    if (!has('u')) {
        Sha256Digest other{};
        if (expected->sha256) other = *expected->sha256;
        if (!has('h')) other[0] ^= 1;
        found.sha256 = other;
    }
    if (has('v') || has('b')) found.signature_valid = has('v');
    const bool required = has('r');

    const ArchiveVerdict verdict = Judge(*expected, found, required);
    if (required && !expected->signature) FUZZ_CHECK(verdict == ArchiveVerdict::MissingSignature);
    if (verdict != ArchiveVerdict::Matches) return 0;
    if (expected->size) FUZZ_CHECK(found.size == expected->size);
    if (expected->sha256) FUZZ_CHECK(found.sha256 == expected->sha256);
    if (required) FUZZ_CHECK(found.signature_valid == true);
    return 0;
}
