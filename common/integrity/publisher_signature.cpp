#include "common/integrity/publisher_signature.h"

#include <cstdio>

namespace vantorix::integrity {

namespace {

constexpr std::string_view kSignedFiles[] = {"VantorixAssist.exe", "bin\\client.exe", "Build\\Velview_G_201.ocx"};

char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : (c == '/' ? '\\' : c); }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

std::string Hex(unsigned long code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", code);
    return text;
}

}  // namespace

bool MustCarryPublisherSignature(std::string_view relative_name) {
    for (std::string_view name : kSignedFiles)
        if (SameName(relative_name, name)) return true;
    return false;
}

std::optional<std::string> PublisherSignatureRefusal(const SignatureFacts& file, const SignatureFacts& launcher) {
    // Without a signer of its own the launcher cannot tell the publisher's files from anyone's.
    if (!launcher.valid || launcher.signer_key.empty())
        return "the running launcher carries no valid signature to compare with (" + Hex(launcher.code) + ")";
    if (!file.valid)
        return (file.signer_key.empty() ? "no valid Authenticode signature (" : "an invalid Authenticode signature (") +
               Hex(file.code) + ")";
    if (file.signer_key.empty()) return "no signer certificate in the signature";
    if (file.signer_key != launcher.signer_key)
        return "signed by \"" + file.signer_name + "\", not by the running launcher's signer \"" + launcher.signer_name + "\"";
    return std::nullopt;
}

}  // namespace vantorix::integrity
