#pragma once
// One entry of an open minizip archive read whole and checked, as the extractor and the delta applier
// both take them: every read must succeed, exactly the stored size must arrive, and minizip's CRC check at
// close must pass (it checks only when the whole entry was read, hence the size test).
#include <unzip.h>

#include <memory>
#include <optional>
#include <string>

namespace vantorix::unzip {

struct ArchiveCloser {
    void operator()(void* archive) const { unzClose(static_cast<unzFile>(archive)); }
};
using ArchiveHandle = std::unique_ptr<void, ArchiveCloser>;

// Reads the current entry to its end through `buffer` (`block` bytes), handing each block to sink, which
// answers false to stop. nullopt when the entry arrived whole; else why not ("" when the sink stopped it).
template <class Sink>
std::optional<std::string> ReadEntry(unzFile zf, unsigned long long expected_size, char* buffer, unsigned block, Sink&& sink) {
    if (unzOpenCurrentFile(zf) != UNZ_OK) return "cannot open entry";
    unsigned long long total = 0;
    std::optional<std::string> problem;
    for (;;) {
        int got = unzReadCurrentFile(zf, buffer, block);
        if (got < 0) {
            problem = "read error " + std::to_string(got);
            break;
        }
        if (got == 0) break;
        total += static_cast<unsigned>(got);
        if (total > expected_size) {
            problem = "more data than the stored size";
            break;
        }
        if (!sink(buffer, static_cast<size_t>(got))) {
            problem = "";  // the sink's own failure; the caller knows which
            break;
        }
    }
    int closed = unzCloseCurrentFile(zf);
    if (problem) return problem;
    if (total != expected_size) return "truncated data";
    if (closed == UNZ_CRCERROR) return "CRC mismatch";
    if (closed != UNZ_OK) return "close error " + std::to_string(closed);
    return std::nullopt;
}

}  // namespace vantorix::unzip
