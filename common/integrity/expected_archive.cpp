#include "common/integrity/expected_archive.h"

namespace vantorix::integrity {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<ExpectedArchive> ParseExpectedArchive(std::string_view size_text, std::string_view sha256_text) {
    ExpectedArchive expected;
    if (!size_text.empty()) {
        uint64_t size = 0;
        for (char c : size_text) {
            if (c < '0' || c > '9') return std::nullopt;
            size = size * 10 + static_cast<uint64_t>(c - '0');
            if (size > kMaxArchiveSize) return std::nullopt;
        }
        expected.size = size;
    }
    if (!sha256_text.empty()) {
        Sha256Digest digest{};
        if (sha256_text.size() != digest.size() * 2) return std::nullopt;
        for (size_t i = 0; i < digest.size(); ++i) {
            int high = HexValue(sha256_text[2 * i]), low = HexValue(sha256_text[2 * i + 1]);
            if (high < 0 || low < 0) return std::nullopt;
            digest[i] = static_cast<uint8_t>(high << 4 | low);
        }
        expected.sha256 = digest;
    }
    return expected;
}

ArchiveVerdict Judge(const ExpectedArchive& expected, const FoundArchive& found) {
    if (!expected.Any()) return ArchiveVerdict::Matches;
    if (!found.size) return ArchiveVerdict::Unreadable;
    if (expected.size && *expected.size != *found.size) return ArchiveVerdict::WrongSize;
    if (expected.sha256) {
        if (!found.sha256) return ArchiveVerdict::Unreadable;
        if (*expected.sha256 != *found.sha256) return ArchiveVerdict::WrongHash;
    }
    return ArchiveVerdict::Matches;
}

std::string HexText(const Sha256Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

}  // namespace vantorix::integrity
