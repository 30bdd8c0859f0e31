// The launcher's view of the update manifest: fetched text in, six UTF-16 values and decisions out.
#include <windows.h>

#include "common/manifest/manifest.h"
#include "launcher/services/archive_check.h"
#include "launcher/services/manifest_verification.h"
#include "launcher/services/services.h"
#include "launcher/services/wide_text.h"

namespace vantorix::services {

manifest::ManifestVerdict VerifyManifest(std::string_view bytes, const integrity::UpdateKeys& keys,
                                         const install_state::InstallState& state, int64_t now) {
    return manifest::VerifyManifest(bytes, keys, state, now, &VerifyMessageSignature);
}

int64_t UnixTimeNow() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    // 100-nanosecond steps since 1601-01-01; 11644473600 seconds lie between that and 1970-01-01.
    const uint64_t ticks = static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000) - 11644473600LL;
}

}  // namespace vantorix::services
