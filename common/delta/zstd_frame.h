#pragma once
// Decoding one zstd frame of a delta package: a whole file compressed, or a patch whose prefix is the
// installed file (zstd's patch-from). zstd's own decoder does the work; this module only bounds it.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vantorix::delta {

// Called while a frame is decoded with the bytes made so far, so a window can keep answering.
using DecodeProgress = std::function<void(uint64_t made)>;

// Decodes frame into out, which ends up holding exactly `size` bytes. The frame must be one complete
// zstd frame that declares that size and nothing after it; prefix is the content the frame was made
// against ("" for none). Returns the reason when it cannot be decoded (out is then unspecified).
std::optional<std::string> DecodeFrame(std::string_view frame, std::string_view prefix, uint64_t size, std::string& out,
                                       const DecodeProgress& progress = {});

}  // namespace vantorix::delta
