#pragma once
// The signed manifest and the one judgement of it that every caller shares.
//
// With a key built in, the launcher acts only on values covered by the maker's signature. The signature
// covers exact bytes: those of one text member, "Version_date.payload", whose value (as the JSON string
// decodes, UTF-8) is itself a JSON object holding the members the manifest also publishes outside it (the
// six, "size", "sha256", "signature") and the members only the payload carries ("serial", "expires").
// "Version_date.payload_signature" is the base64 of the raw ECDSA P-256 signature (r || s) over the
// SHA-256 of those bytes. The members outside the payload stay, readable as before by launchers that know
// nothing of it, and must equal the payload's. The README gives the format with an example.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/install_state/install_state.h"
#include "common/integrity/update_keys.h"
#include "common/manifest/manifest.h"

namespace vantorix::manifest {

inline constexpr std::string_view kPayloadPath = "Version_date.payload";
inline constexpr std::string_view kPayloadSignaturePath = "Version_date.payload_signature";

enum class Refusal {
    None,
    Unreadable,          // not a usable manifest whatever its signature (see ManifestVerdict::problem)
    Unsigned,            // a key is built in and the manifest carries no payload or no payload signature
    MalformedSignature,  // the payload signature is not base64 of 64 bytes
    UnknownSigner,       // no built-in key verifies the payload signature: altered, or signed by another key
    MalformedPayload,    // signed, but not an object with the members a signed manifest needs
    MemberDiffers,       // a member outside the payload differs from the signed one
    Expired,             // the time now is at or past the payload's "expires"
    LowerSerial,         // a higher serial was accepted for this installation before
};

struct ManifestVerdict {
    std::optional<Manifest> manifest;  // the values to act on; nullopt: the manifest counts as absent
    Refusal refusal = Refusal::None;
    ManifestProblem problem = ManifestProblem::Ok;  // with Refusal::Unreadable: why
    integrity::KeySlot signed_by = integrity::KeySlot::None;
    std::string detail;  // why, with the member, serials or times concerned
    std::string announced_version;  // of a refused manifest that could be read, for the log only
};

// The judgement of a fetched manifest, made the same way by the launcher and by the elevated install step.
// bytes: the body as fetched. keys: the keys built into the program; with none, the manifest is read as
// before (no signature, serial or expiry) and nothing else is asked of it. state: the installation's
// state, whose manifest_serial is the highest serial accepted so far (a verdict with the same serial is
// accepted: the same manifest served again). now: seconds since 1970-01-01T00:00:00Z. check: the
// platform's ECDSA P-256 verification. Recording a higher accepted serial is the caller's.
ManifestVerdict VerifyManifest(std::string_view bytes, const integrity::UpdateKeys& keys,
                               const install_state::InstallState& state, int64_t now,
                               const integrity::SignatureCheck& check);

// One line for the diagnostic log: "accepted 1.0.0.2, serial 7, current key" or "refused 1.0.0.2: serial
// 3 is lower than 5, accepted before". The version is the only manifest text in it, cut and cleaned.
std::string DescribeVerdict(const ManifestVerdict& verdict);


}  // namespace vantorix::manifest
