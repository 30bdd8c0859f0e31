#include "launcher/app/manifest_source.h"

#include <windows.h>

#include "common/manifest/address_override.h"
#include "launcher/services/services.h"
#include "launcher/services/wide_text.h"

namespace vantorix::launcher {

std::wstring ManifestUrl() {
    wchar_t buffer[2048];
    DWORD n = GetEnvironmentVariableW(kManifestUrlVariable, buffer, ARRAYSIZE(buffer));
    // Only an address on this machine replaces the maker's; any other is ignored.
    if (n > 0 && n < ARRAYSIZE(buffer) && manifest::IsLoopbackAddress(std::wstring(buffer, n)))
        return std::wstring(buffer, n);
    return kManifestUrl;
}

std::optional<update_flow::ManifestView> FetchManifestView() {
    auto manifest = services::FetchManifest(ManifestUrl());
    if (!manifest) return std::nullopt;
    update_flow::ManifestView view;
    view.version = manifest->version;
    view.url = manifest->url;
    view.uptext = manifest->uptext;
    view.new_title = manifest->new_title;
    view.mandatory_shown = services::MandatoryShownText(*manifest);
    view.mandatory = services::IsMandatory(*manifest);
    // Already checked by the manifest reader: a malformed value made it no manifest.
    view.archive = integrity::ParseExpectedArchive(services::Utf8(manifest->size), services::Utf8(manifest->sha256),
                                                   services::Utf8(manifest->signature))
                       .value_or(integrity::ExpectedArchive{});
    return view;
}

}  // namespace vantorix::launcher
