#pragma once
// The maker's update keys built into this program (CMake options VANTORIX_UPDATE_PUBLIC_KEY and
// VANTORIX_UPDATE_NEXT_PUBLIC_KEY, PEM files of ECDSA P-256 public keys). With a key built in, only a
// manifest signed by one of them counts, and no archive is unpacked without a valid "signature" by one of
// them; without one, updates are checked by size and hash as before.
#include "common/integrity/update_keys.h"

namespace vantorix::launcher {

integrity::UpdateKeys BuiltInUpdateKeys();

}  // namespace vantorix::launcher
