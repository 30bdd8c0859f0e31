#pragma once
// The judgement of a fetched update manifest on this platform: the portable decision
// (common/manifest/signed_manifest.h) with BCrypt verifying the maker's signature. The unprivileged
// launcher and the elevated install step both call exactly this, each with the bytes it read itself.
#include <cstdint>
#include <string_view>

#include "common/install_state/install_state.h"
#include "common/integrity/update_keys.h"
#include "common/manifest/signed_manifest.h"

namespace vantorix::services {

// bytes: the manifest body as fetched (or as the file handed to the elevated step holds it). keys: the
// program's built-in keys (launcher::BuiltInUpdateKeys()). state: ReadInstallState() of the installation.
// now: UnixTimeNow(). A refusal counts as "no manifest": the caller logs DescribeVerdict() and goes on
// without an update; an accepted serial above state.manifest_serial is the caller's to record.
manifest::ManifestVerdict VerifyManifest(std::string_view bytes, const integrity::UpdateKeys& keys,
                                         const install_state::InstallState& state, int64_t now);

// Seconds since 1970-01-01T00:00:00Z from the system clock.
int64_t UnixTimeNow();

}  // namespace vantorix::services
