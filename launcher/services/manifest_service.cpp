// The launcher's view of the update manifest: fetched text in, six UTF-16 values and decisions out.
#include <windows.h>

#include "common/manifest/manifest.h"
#include "launcher/services/archive_check.h"
#include "launcher/services/manifest_verification.h"
#include "launcher/services/services.h"
#include "launcher/services/wide_text.h"

namespace vantorix::services {

std::optional<Manifest> ReadManifest(const std::wstring& json_text) {
    auto reading = manifest::ReadManifest(Utf8(json_text));
    if (!reading.manifest) return std::nullopt;
    const manifest::Manifest& m = *reading.manifest;
    return Manifest{Wide(m.version),   Wide(m.url),         Wide(m.uptext), Wide(m.new_title),
                    Wide(m.force_mod), Wide(m.new_skinurl), Wide(m.size),   Wide(m.sha256), Wide(m.signature)};
}

std::optional<Manifest> FetchManifest(const std::wstring& url, const FetchLimits& limits) {
    auto body = GetUrlBytes(url, limits);
    if (!body) return std::nullopt;
    return ReadManifest(BytesToText(*body, L"utf-8"));
}

bool IsNewVersion(const Manifest& m, const std::wstring& local_version) { return m.version != local_version; }

std::wstring MandatoryShownText(const Manifest& m) { return m.force_mod == L"1" ? L"是" : L"否"; }

bool IsMandatory(const Manifest& m) {
    manifest::Manifest portable;
    portable.force_mod = Utf8(m.force_mod);
    return manifest::IsMandatory(portable);
}

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
