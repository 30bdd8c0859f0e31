#pragma once
// SHA-256 as the delta applier needs it: bytes fed in blocks, one digest at the end. The platform fills
// it (the system's crypto API on Windows); this module never computes a digest itself.
#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

#include "common/integrity/expected_archive.h"

namespace vantorix::delta {

class Sha256 {
public:
    virtual ~Sha256() = default;
    virtual void Add(const void* data, size_t size) = 0;
    // The digest of everything added; nullopt when the platform failed at any step.
    virtual std::optional<integrity::Sha256Digest> Finish() = 0;
};

class Sha256Provider {
public:
    virtual ~Sha256Provider() = default;
    // A fresh digest; nullptr when the platform cannot make one.
    virtual std::unique_ptr<Sha256> Start() = 0;
};

// The digest of bytes held in memory, fed in blocks with between_blocks() after each (the caller's window
// keeps answering); nullopt on a platform failure.
template <class BetweenBlocks>
std::optional<integrity::Sha256Digest> DigestOf(Sha256Provider& provider, std::string_view bytes, BetweenBlocks&& between_blocks) {
    constexpr size_t kBlock = 1u << 20;
    auto digest = provider.Start();
    if (!digest) return std::nullopt;
    for (size_t done = 0; done < bytes.size(); done += kBlock) {
        const size_t n = bytes.size() - done < kBlock ? bytes.size() - done : kBlock;
        digest->Add(bytes.data() + done, n);
        between_blocks(n);
    }
    return digest->Finish();
}

}  // namespace vantorix::delta
