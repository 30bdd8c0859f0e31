#include "launcher/services/system_random.h"

#include <windows.h>
#include <bcrypt.h>

namespace vantorix::services {

std::optional<uint32_t> SystemRandom32() {
    uint32_t value = 0;
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof value,
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return std::nullopt;
    return value;
}

double SystemRandomFraction() {
    const auto value = SystemRandom32();
    return value ? static_cast<double>(*value) / 4294967296.0 : 0.5;
}

}  // namespace vantorix::services
