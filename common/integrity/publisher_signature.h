#pragma once
// Which files of an update must carry the publisher's Authenticode signature, and the judgement of what
// the system found about one of them. The elevated install step runs our own signed launcher after one
// UAC prompt; it puts nothing in place that the same signer did not sign, so an approved prompt cannot be
// turned into running someone else's program or library as administrator. The signer is compared by its
// certificate's public key, not by the system's verdict alone: a chain that no store trusts can still
// verify (Wine, for one, does not enforce the chain's trust).
#include <optional>
#include <string>
#include <string_view>

namespace vantorix::integrity {

// What the system found about one file's signature.
struct SignatureFacts {
    bool valid = false;      // the system's verification found a signature whose digest matches the file
    unsigned long code = 0;  // its answer (0 when valid; e.g. 0x800B0100 no signature, 0x80096010 bad digest)
    std::string signer_key;  // the signer certificate's public key (algorithm and key bits); "" when none
    std::string signer_name; // the signer's name, for the log
};

// The executables we build and an update may bring, relative to the installation (compared without
// regard to case): VantorixAssist.exe, bin\client.exe, Build\Velview_G_201.ocx. node.dll is the maker's
// outside engine, vouched for by the archive's own signature.
bool MustCarryPublisherSignature(std::string_view relative_name);

// Why the file may not be installed by a launcher with this signature of its own; nullopt when it is
// validly signed by the same signer.
std::optional<std::string> PublisherSignatureRefusal(const SignatureFacts& file, const SignatureFacts& launcher);

}  // namespace vantorix::integrity
