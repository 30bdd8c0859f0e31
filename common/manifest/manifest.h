#pragma once
// The update manifest: its six values under "Version_date" and the decisions the launcher takes from them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/update_flow/rollout.h"

namespace vantorix::manifest {

// What only the signed payload of a manifest carries (see signed_manifest.h). New members go here as
// optional ones, read by ReadSignedMembers in signed_manifest.cpp and described in the README.
struct SignedMembers {
    uint64_t serial = 0;  // raised by the maker with every manifest it publishes
    int64_t expires = 0;  // seconds since 1970-01-01T00:00:00Z: from then on the manifest is refused
    // "rollout_share", "rollout_start", "rollout_hours": which installations are offered the release so
    // far; none published: every installation at once.
    std::optional<update_flow::Rollout> rollout;
};

// A delta package the manifest offers for one installed client version (README, "Publishing a release").
// Only well-formed entries are kept: "from" and "url" present, "size" and "sha256" published and valid.
struct DeltaOffer {
    std::string from;  // the client version text the delta applies to
    std::string url, size, sha256, signature;
};

// The values as the update form keeps them, UTF-8.
struct Manifest {
    std::string version, url, uptext, new_title, force_mod, new_skinurl;
    // Optional: what the archive must be ("" when not published). Checked before anything is unpacked.
    std::string size, sha256, signature;
    // Present exactly when the maker's signature over the payload was verified (a key is built in).
    std::optional<SignedMembers> signed_members;
    // "deltas": from the signed payload when a key is built in, else from "Version_date" itself.
    std::vector<DeltaOffer> deltas;
};

// The optional members that describe the archive, read after the six.
inline constexpr std::string_view kSizePath = "Version_date.size";
inline constexpr std::string_view kSha256Path = "Version_date.sha256";
inline constexpr std::string_view kSignaturePath = "Version_date.signature";

// The six paths, in the order they are read.
inline constexpr std::string_view kManifestPaths[] = {
    "Version_date.version",   "Version_date.url",       "Version_date.uptext",
    "Version_date.new_title", "Version_date.force_mod", "Version_date.new_skinurl",
};

// Why a text is not a usable manifest (for logs and tests); Ok when it is.
enum class ManifestProblem {
    Ok,
    NotJson,
    NoVersionDate,
    UnreadableValue,
    ForceModNotNumber,
    NulInText,      // a NUL byte anywhere in the body: not a text document
    BadVersion,     // empty or missing
    BadUrl,         // empty, or not an http or https address
    BadIntegrity,   // "size" or "sha256" published but malformed
};

struct ManifestReading {
    std::optional<Manifest> manifest;  // nullopt: treat the manifest as absent
    ManifestProblem problem = ManifestProblem::Ok;
};

// Reads the six values from a fetched text (UTF-8). A text that is empty or not JSON, holds a NUL byte,
// lacks "Version_date", holds a null or non-text value at one of the paths, a force_mod that is not a
// number, an empty version or a url the launcher cannot download gives no
// manifest: acting on such a manifest could only fail, or offer the same update for ever. A missing
// member reads as "" (and a missing version or url then makes the manifest unusable).
ManifestReading ReadManifest(std::string_view json_text);

// An address the downloader can fetch: "http://" or "https://" (any case) and a host, or a bare host and
// path, which the downloader reads as http. Other schemes (javascript:, file:, ftp:), network paths,
// blanks and control characters are refused.
bool IsDownloadUrl(std::string_view url);

// Reads a text as a number the way the form's numeric test does: optional blanks, sign, digits with an
// optional fraction and exponent. nullopt for anything else, "" included.
std::optional<double> TextAsNumber(std::string_view text);

// Exact, case-sensitive, byte for byte: any difference is a new version, lower ones included.
bool IsNewVersion(const Manifest& m, std::string_view local_version);
// "是" when force_mod is exactly "1", else "否".
std::string MandatoryShownText(const Manifest& m);
// force_mod read as a number is above 0; false when it is not a number.
bool IsMandatory(const Manifest& m);

}  // namespace vantorix::manifest
