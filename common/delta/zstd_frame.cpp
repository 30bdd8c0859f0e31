#include "common/delta/zstd_frame.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_d_stableOutBuffer: decode straight into the result, no window copy
#include <zstd.h>

#include <memory>
#include <new>

namespace vantorix::delta {
namespace {

struct ContextFree {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

// Input handed to the decoder per call; the progress callback runs between calls.
constexpr size_t kInputStep = 128 * 1024;

std::string ZstdError(size_t code) { return std::string("zstd: ") + ZSTD_getErrorName(code); }

}  // namespace

std::optional<std::string> DecodeFrame(std::string_view frame, std::string_view prefix, uint64_t size, std::string& out,
                                       const DecodeProgress& progress) {
    const unsigned long long declared = ZSTD_getFrameContentSize(frame.data(), frame.size());
    if (declared == ZSTD_CONTENTSIZE_ERROR) return std::string("not a zstd frame");
    if (declared == ZSTD_CONTENTSIZE_UNKNOWN) return std::string("frame does not declare its size");
    if (declared != size) return "frame makes " + std::to_string(declared) + " bytes, " + std::to_string(size) + " expected";
    const size_t frame_size = ZSTD_findFrameCompressedSize(frame.data(), frame.size());
    if (ZSTD_isError(frame_size)) return ZstdError(frame_size);
    if (frame_size != frame.size()) return std::string("data after the frame");
    if (size > SIZE_MAX) return std::string("too large for this process");
    try {
        out.assign(static_cast<size_t>(size), '\0');
    } catch (const std::bad_alloc&) {
        return std::string("not enough memory for ") + std::to_string(size) + " bytes";
    }

    std::unique_ptr<ZSTD_DCtx, ContextFree> context(ZSTD_createDCtx());
    if (!context) return std::string("no decoder");
    // A patch frame's window spans the installed file and the new one: allow what this process can address
    // (the output is our own buffer, so the window costs no extra memory).
    for (size_t rc : {ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, ZSTD_WINDOWLOG_MAX),
                      ZSTD_DCtx_setParameter(context.get(), ZSTD_d_stableOutBuffer, 1),
                      prefix.empty() ? size_t{0} : ZSTD_DCtx_refPrefix(context.get(), prefix.data(), prefix.size())})
        if (ZSTD_isError(rc)) return ZstdError(rc);

    ZSTD_outBuffer output{out.data(), out.size(), 0};
    size_t consumed = 0;
    for (;;) {
        const size_t step = frame.size() - consumed < kInputStep ? frame.size() - consumed : kInputStep;
        ZSTD_inBuffer input{frame.data() + consumed, step, 0};
        const size_t made_before = output.pos;
        const size_t rc = ZSTD_decompressStream(context.get(), &output, &input);
        if (ZSTD_isError(rc)) return ZstdError(rc);
        consumed += input.pos;
        if (progress) progress(output.pos);
        if (rc == 0) break;  // the frame is complete and its checksum, when it has one, matched
        // Every round consumes input or makes output, so this ends; one that does neither is starved.
        if (input.pos == 0 && output.pos == made_before) return std::string("frame cut short");
    }
    if (consumed != frame.size() || output.pos != out.size()) return std::string("frame ended early");
    return std::nullopt;
}

}  // namespace vantorix::delta
