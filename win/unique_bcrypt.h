#pragma once
// Owners of the platform crypto API's handles: an algorithm provider and a hash object.
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
using unique_bcrypt_algorithm = unique_handle<bcrypt_algorithm_traits>;
using unique_bcrypt_hash = unique_handle<bcrypt_hash_traits>;

}  // namespace vantorix::win
