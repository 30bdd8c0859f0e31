// release_apply: lays an update package over a folder with the launcher's own code and rules, natively.
//   release_apply unpack FOLDER ARCHIVE    the full archive, as the launcher unpacks it
//   release_apply delta FOLDER PACKAGE     a delta package, as the launcher applies it
// Prints one line "status=<outcome> files=<n> cpu_seconds=<s> wall_seconds=<s>" (the calling thread's
// processor time and the time that passed, of the unpacking or applying alone) and, on failure, "failed: <what> <file>: <detail>" on stderr.
// Exit code 0 when the package went in, 1 when it was refused or failed (the folder is then as it was), 2
// for a wrong command line. The release tool runs it on copies of earlier releases; the delta benchmark
// times it.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/delta/apply_delta.h"
#include "common/unzip/install_commit.h"
#include "common/unzip/paths.h"
#include "common/unzip/posix_file_system.h"
#include "tools/release/native/openssl_sha256.h"

namespace {

double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::string ExtractorPath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[1], "unpack") != 0 && std::strcmp(argv[1], "delta") != 0)) {
        std::fprintf(stderr, "usage: release_apply unpack FOLDER ARCHIVE | delta FOLDER PACKAGE\n");
        return 2;
    }
    vantorix::unzip::PosixFileSystem fs;
    const std::string folder = ExtractorPath(argv[2]), package = argv[3];
    bool ok = false;
    std::string outcome, failure;
    size_t files = 0;
    const double start = ThreadSeconds();
    const auto wall_start = std::chrono::steady_clock::now();
    if (std::strcmp(argv[1], "unpack") == 0) {
        const vantorix::unzip::Result r = vantorix::unzip::UnzipToFolder(fs, folder, package);
        ok = r.status == vantorix::unzip::Status::Ok;
        outcome = vantorix::unzip::StatusText(r.status);
        files = r.files_written;
        failure = r.entry + ": " + r.detail;
    } else {
        vantorix::delta::OpenSslSha256Provider sha256;
        const vantorix::delta::Result r = vantorix::delta::ApplyDelta(fs, sha256, folder, package);
        ok = r.status == vantorix::delta::Status::Ok;
        outcome = vantorix::delta::StatusText(r.status);
        files = r.committed.size();
        failure = r.file + ": " + r.detail;
    }
    if (ok) {
        // The install settled itself, as the launcher's does: the launcher's next start finds nothing to
        // do, so the folder ends as a user's installation would.
        vantorix::unzip::InstallPaths paths;
        paths.folder = vantorix::unzip::NormaliseFolder(folder);
        paths.work = paths.folder + std::string(vantorix::unzip::kWorkFolder);
        const auto settled = vantorix::unzip::RecoverInstall(fs, paths);
        ok = settled == vantorix::unzip::Recovery::Nothing;
        if (!ok) failure = "the install left work files for the next start";
    }
    const double seconds = ThreadSeconds() - start;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    std::printf("status=%s files=%zu cpu_seconds=%.4f wall_seconds=%.4f\n", ok ? "ok" : "failed", files, seconds, wall);
    if (!ok) std::fprintf(stderr, "failed: %s %s\n", outcome.c_str(), failure.c_str());
    return ok ? 0 : 1;
}
