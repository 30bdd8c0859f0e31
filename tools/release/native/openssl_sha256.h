#pragma once
// SHA-256 for the delta applier on a POSIX host (tests, the release tool, benchmarks): OpenSSL's libcrypto.
#ifndef _WIN32
#include "common/delta/sha256.h"

namespace vantorix::delta {

class OpenSslSha256Provider : public Sha256Provider {
public:
    std::unique_ptr<Sha256> Start() override;
};

}  // namespace vantorix::delta
#endif
