#pragma once
// The one place that installs a downloaded delta package over an installation, for the launcher that may
// write its installation and for the elevated step alike (the full archive's twin is update_install.h).
// The package is copied into the installation's update_flow::kDeltaPath when it lies elsewhere
// (readable by administrators only), held refusing writers from its check (size, SHA-256, signature) to
// the end of the apply, and applied by delta::ApplyDelta: every installed file it relies on checked first,
// every new file built and checked in the staging folder, committed under the journal. Whatever keeps it
// from applying leaves the installation as it was and ends in DeltaRefused (or why the package itself was
// refused): the caller installs the full archive instead.
#include <functional>
#include <optional>
#include <string>

#include "common/delta/apply_delta.h"
#include "common/integrity/expected_archive.h"
#include "common/integrity/update_keys.h"
#include "common/manifest/manifest.h"
#include "launcher/app/update_install.h"

namespace vantorix::launcher {

InstallOutcome InstallDownloadedDelta(const std::wstring& folder, const std::wstring& package,
                                      const integrity::ExpectedArchive& expected, const integrity::UpdateKeys& keys,
                                      const std::function<void()>& between_blocks, const delta::ApplyProgress& progress,
                                      const unzip::StagedCheck& check = {});

// For a launcher that cannot write its installation, before it asks for the elevated step: builds every
// file the delta makes from the installed files into `scratch` (a folder of the user's), checks them, and
// removes them again. The reason the delta would not apply, "" when it would: then the step is asked for
// the delta, otherwise for the full archive, so a delta that cannot apply costs no second prompt.
std::wstring DeltaWouldNotApply(const std::wstring& folder, const std::wstring& package, const std::wstring& scratch,
                                const delta::ApplyProgress& progress);

// The delta the manifest lists for the client version installed in `folder` (read from its file), with
// what the package must be; nullopt when there is none or its values are malformed.
std::optional<integrity::ExpectedArchive> DeltaForInstalledClient(const std::wstring& folder, const manifest::Manifest& m);

}  // namespace vantorix::launcher
