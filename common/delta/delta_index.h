#pragma once
// The index of a delta package: what it does to each file of the installation it was made for.
//
// A delta package is a ZIP archive (every member stored) holding this index as its member "delta.txt" and,
// for every file it writes, one zstd frame as the member "data/" + the file's path: either the whole new
// file compressed, or a patch that rebuilds the new file from the installed one (zstd's patch-from: the
// installed file is the frame's prefix). The index is UTF-8 text, one record per line, fields separated by
// a tab, paths relative to the installation with "/" separators:
//
//     vantorix-delta 1
//     from    <client version the delta applies to>
//     to      <client version it makes>
//     keep    <size> <sha256>  <path>                              the file must already be these bytes
//     whole   <size> <sha256>  <path>                              written from data/<path>
//     patch   <size> <sha256>  <path> <source size> <source sha256> data/<path> patched over the file
//     end
//
// Sizes are decimal byte counts, digests lower-case hexadecimal. A delta never removes a file: it brings
// an installation to exactly what the full archive of the same release would make of it, and the full
// archive leaves files it does not name as they are.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/integrity/expected_archive.h"

namespace vantorix::delta {

inline constexpr std::string_view kIndexMember = "delta.txt";
inline constexpr std::string_view kDataPrefix = "data/";
// The index is small text; anything larger is not an index.
inline constexpr size_t kMaxIndexBytes = 4u << 20;

enum class Action { Keep, Whole, Patch };

struct FileState {
    uint64_t size = 0;
    integrity::Sha256Digest sha256{};
    bool operator==(const FileState& other) const { return size == other.size && sha256 == other.sha256; }
};

struct DeltaFile {
    Action action = Action::Keep;
    std::string path;    // as listed ("/" separators)
    FileState result;    // what the file is once the delta is applied
    FileState source;    // Patch only: the installed file the patch was made against
    std::string Member() const { return std::string(kDataPrefix) + path; }
};

struct DeltaIndex {
    std::string from_version, to_version;
    std::vector<DeltaFile> files;
};

// Reads an index; nullopt with the first problem in *problem for anything but a complete, well-formed
// index of this format version (the caller then uses the full archive). Paths are checked later, against
// the installation's rules.
std::optional<DeltaIndex> ParseIndex(std::string_view text, std::string* problem = nullptr);

// The index's text, as the release tool writes it (used by the tests; the tool has its own writer).
std::string IndexText(const DeltaIndex& index);

}  // namespace vantorix::delta
