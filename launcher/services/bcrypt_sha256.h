#pragma once
// SHA-256 through the system's crypto API (BCrypt), for the delta applier and the archive check.
#include "common/delta/sha256.h"

namespace vantorix::services {

class BcryptSha256Provider : public delta::Sha256Provider {
public:
    std::unique_ptr<delta::Sha256> Start() override;
};

}  // namespace vantorix::services
