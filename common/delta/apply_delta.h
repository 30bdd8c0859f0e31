#pragma once
// Applying a delta package (see delta_index.h) to an installation, all or nothing:
//   1. the index is read and every path checked by the extractor's rules;
//   2. every installed file the delta relies on is checked first: each "keep" and each patch source must
//      be there with exactly the listed size and SHA-256;
//   3. every new file is built (decoded, patched) in memory, its size and SHA-256 checked, and written
//      into the staging folder through the extractor's FileSystem;
//   4. the staged files are committed under the install journal (install_commit.h), as a full archive's.
// Any failure before the commit leaves the installation untouched; the caller then installs the full
// archive instead (FallsBackToFullArchive).
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/delta/delta_index.h"
#include "common/delta/sha256.h"
#include "common/unzip/extract.h"
#include "common/unzip/install_commit.h"

namespace vantorix::delta {

enum class Status {
    Ok,
    NotADelta,       // not a readable package, or its index is missing or malformed
    UnsafePath,      // a listed path the extractor would refuse (outside the folder, in its work folder, twice)
    SourceMissing,   // an installed file the delta relies on is not there or cannot be read
    SourceMismatch,  // an installed file differs from the one the delta was made for
    DamagedData,     // a file's data is missing from the package or does not decode
    ResultMismatch,  // a built file is not the one the index announces
    NoRoom,          // the new files would not fit on the installation's volume
    CannotWrite,     // staging or the commit failed (the commit restored the old files)
    Untrusted,       // the caller's check refused a staged file (unzip::StagedCheck): nothing written
};

struct Result {
    Status status = Status::NotADelta;
    std::string file;    // the path the failure is about ("\" separators), when there is one
    std::string detail;  // a short reason
    std::vector<std::string> committed;  // files written into the installation, relative, in commit order
    std::vector<unzip::CommitFile> staged;  // StageDelta: the staged files with their size and CRC-32
};

const char* StatusText(Status status);
// True for every failure after which the full archive is the way on: everything but NoRoom (the full
// archive needs more room still) and Untrusted (the full archive carries the same files).
bool FallsBackToFullArchive(Status status);

// Called with the bytes checked and made so far against their total, between blocks.
using ApplyProgress = std::function<void(uint64_t done, uint64_t total)>;

// Builds every file the delta writes into paths.Stage() (made fresh by unzip::PrepareStaging) and returns
// them (relative, "\" separators) in result.staged; nothing is committed. The caller holds the install lock.
Result StageDelta(unzip::FileSystem& fs, Sha256Provider& sha256, const unzip::InstallPaths& paths,
                  const std::string& package, const ApplyProgress& progress = {});

// The client version a delta package makes (its index's "to"); nullopt when the package cannot be read
// or holds no valid index.
std::optional<std::string> PackageTargetVersion(unzip::FileSystem& fs, const std::string& package);

// Under the install lock: settles an interrupted install, stages the delta, commits it over the folder
// and settles the commit (unzip::SettleCommitted). The work folder defaults to the folder's "update\".
// A check, when given, judges the staged files before the commit (Untrusted when it refuses one).
Result ApplyDelta(unzip::FileSystem& fs, Sha256Provider& sha256, std::string_view folder, const std::string& package,
                  std::string_view work_folder = {}, const ApplyProgress& progress = {},
                  const unzip::StagedCheck& check = {});

}  // namespace vantorix::delta
