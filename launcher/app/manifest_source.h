#pragma once
// Where the update manifest comes from and what the form makes of it.
#include <optional>
#include <string>

#include "common/update_flow/update_flow.h"

namespace vantorix::launcher {

// The maker's manifest. Tests and the demo point the launcher at a local server instead through the
// environment variable VANTORIX_MANIFEST_URL, honoured only for an http or https address on this machine
// (127.0.0.1, localhost, [::1]); nothing else changes the address.
inline constexpr wchar_t kManifestUrl[] = L"https://www.vantorix.com/updata.json";
inline constexpr wchar_t kManifestUrlVariable[] = L"VANTORIX_MANIFEST_URL";

std::wstring ManifestUrl();

// Fetches the manifest, judges it against the built-in keys and the installation's state (signature,
// expiry, serial), records a higher accepted serial and takes the decisions the form shows. nullopt when
// there is no usable one; every outcome is written to the diagnostic log with its reason.
// fetched: when given, receives the body exactly as fetched (the elevated install step judges it again).
std::optional<update_flow::ManifestView> FetchManifestView(const std::wstring& installation_folder,
                                                           std::string* fetched = nullptr);

}  // namespace vantorix::launcher
