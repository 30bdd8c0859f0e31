#include "launcher/app/manifest_source.h"

#include <windows.h>

#include "common/manifest/address_override.h"
#include "launcher/services/services.h"

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
    return view;
}

}  // namespace vantorix::launcher
