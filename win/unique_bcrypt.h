#pragma once
// Owners of the platform crypto API's handles: an algorithm provider, a hash object and a key.
#include <windows.h>
#include <bcrypt.h>

#include "win/unique_handle.h"

namespace vantorix::win {

namespace close {
inline void bcrypt_algorithm(BCRYPT_ALG_HANDLE h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
inline void bcrypt_hash(BCRYPT_HASH_HANDLE h) noexcept { ::BCryptDestroyHash(h); }
inline void bcrypt_key(BCRYPT_KEY_HANDLE h) noexcept { ::BCryptDestroyKey(h); }
}  // namespace close

using unique_bcrypt_algorithm = unique_any<BCRYPT_ALG_HANDLE, close::bcrypt_algorithm>;
using unique_bcrypt_hash = unique_any<BCRYPT_HASH_HANDLE, close::bcrypt_hash>;
using unique_bcrypt_key = unique_any<BCRYPT_KEY_HANDLE, close::bcrypt_key>;

}  // namespace vantorix::win
