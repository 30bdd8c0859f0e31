#pragma once
// The maker's update signing key, when the build names one (CMake option VANTORIX_UPDATE_PUBLIC_KEY, a
// PEM file of an ECDSA P-256 public key). With a key built in, no update archive is unpacked without a
// valid "signature" in its manifest; without one, updates are checked as before.
#include <optional>

#include "launcher/services/archive_check.h"

namespace vantorix::launcher {

inline std::optional<services::UpdatePublicKey> BuiltInUpdateKey() {
#ifdef VANTORIX_UPDATE_KEY
    return services::UpdatePublicKey{
#include "launcher/update_public_key.inc"
    };
#else
    return std::nullopt;
#endif
}

}  // namespace vantorix::launcher
