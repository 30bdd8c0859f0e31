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

std::optional<ExpectedArchive> ParseExpectedArchive(std::string_view size_text, std::string_view sha256_text,
                                                    std::string_view signature_text) {
    ExpectedArchive expected;
    if (!signature_text.empty()) {
        constexpr size_t kSignatureBytes = 64;
        expected.signature = DecodeBase64(signature_text);
        if (!expected.signature || expected.signature->size() != kSignatureBytes) return std::nullopt;
    }
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

ArchiveVerdict Judge(const ExpectedArchive& expected, const FoundArchive& found, bool signature_required) {
    if (signature_required && !expected.signature) return ArchiveVerdict::MissingSignature;
    if (!expected.Any() && !signature_required) return ArchiveVerdict::Matches;
    if (!found.size) return ArchiveVerdict::Unreadable;
    if (expected.size && *expected.size != *found.size) return ArchiveVerdict::WrongSize;
    if (expected.sha256) {
        if (!found.sha256) return ArchiveVerdict::Unreadable;
        if (*expected.sha256 != *found.sha256) return ArchiveVerdict::WrongHash;
    }
    if (signature_required) {
        if (!found.signature_valid) return found.sha256 ? ArchiveVerdict::BadSignature : ArchiveVerdict::Unreadable;
        if (!*found.signature_valid) return ArchiveVerdict::BadSignature;
    }
    return ArchiveVerdict::Matches;
}

std::optional<std::string> DecodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const size_t padding = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        if (padding == 1 && text[i + 2] == '=') return std::nullopt;  // "x=y=" is not padding
        uint32_t group = 0;
        for (size_t k = 0; k < 4; ++k) {
            int v = k >= 4 - padding ? 0 : value(text[i + k]);
            if (v < 0) return std::nullopt;
            group = group << 6 | static_cast<uint32_t>(v);
        }
        // Padding stands for zero bits: a text whose last character carries bits past the data is not
        // the canonical form of any bytes ("TR==" would otherwise decode as "TQ==" does).
        if ((padding == 2 && (group & 0xFFFF)) || (padding == 1 && (group & 0xFF))) return std::nullopt;
        out += static_cast<char>(group >> 16);
        if (padding < 2) out += static_cast<char>(group >> 8 & 0xFF);
        if (padding < 1) out += static_cast<char>(group & 0xFF);
    }
    return out;
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
