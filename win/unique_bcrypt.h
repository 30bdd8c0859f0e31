#pragma once
// Owners of the platform crypto API's handles: an algorithm provider, a hash object and a key.
#include <windows.h>
#include <bcrypt.h>

#include "win/unique_handle.h"

namespace vantorix::win {

struct bcrypt_algorithm_traits {
    using pointer = BCRYPT_ALG_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};
struct bcrypt_hash_traits {
    using pointer = BCRYPT_HASH_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::BCryptDestroyHash(h); }
};
struct bcrypt_key_traits {
    using pointer = BCRYPT_KEY_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::BCryptDestroyKey(h); }
};
using unique_bcrypt_algorithm = unique_handle<bcrypt_algorithm_traits>;
using unique_bcrypt_hash = unique_handle<bcrypt_hash_traits>;
using unique_bcrypt_key = unique_handle<bcrypt_key_traits>;

}  // namespace vantorix::win
