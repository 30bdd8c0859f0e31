// unzip_bench ARCHIVE FOLDER: unpacks ARCHIVE into FOLDER with the launcher's extractor (every entry
// staged once with its CRC checked and flushed, then the commit), settles it as the next start does
// (every committed file checked whole, the work files removed) and prints the outcome and the time taken. Built by unzip_bench.sh, natively with the
// POSIX file system and for Windows with the Win32 one.
#include <chrono>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#include "launcher/services/services.h"
#include "launcher/services/wide_text.h"
#else
#include "common/unzip/install_commit.h"
#include "common/unzip/paths.h"
#include "common/unzip/posix_file_system.h"
#endif

#ifdef _WIN32
static double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) { return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}
#endif

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: unzip_bench ARCHIVE FOLDER\n");
        return 2;
    }
    auto start = std::chrono::steady_clock::now();
#ifdef _WIN32
    const double cpu_at_start = ProcessCpuSeconds();
    using namespace vantorix::services;
    UnzipResult r = UnzipToFolder(Wide(argv[2]), Wide(argv[1]));
    // The install settles itself: nothing is left for a next start.
    bool ok = static_cast<bool>(r) && RecoverInterruptedInstall(Wide(argv[2])) == InstallRecovery::Nothing;
    std::string status = Utf8(UnzipStatusText(r.status));
    size_t files = r.files_written;
#else
    using namespace vantorix::unzip;
    PosixFileSystem fs;
    std::string folder = argv[2];
    for (char& c : folder)
        if (c == '/') c = '\\';
    Result r = UnzipToFolder(fs, folder, argv[1]);
    bool ok = r.status == Status::Ok && RecoverInstall(fs, {NormaliseFolder(folder), NormaliseFolder(folder) + "update\\", ""}) ==
                                            Recovery::Nothing;
    std::string status = StatusText(r.status);
    size_t files = r.files_written;
#endif
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("status=%s files=%zu seconds=%.3f", status.c_str(), files, seconds);
#ifdef _WIN32
    // What the Windows process counted itself for the extraction (its start-up left out, as the launcher's
    // log leaves out its own), and its peak working set (tools/bench/update_cost.sh).
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::printf(" cpu_s=%.3f peak_mb=%.1f", ProcessCpuSeconds() - cpu_at_start,
                static_cast<double>(memory.PeakWorkingSetSize) / 1048576.0);
#endif
    std::printf("\n");
    return ok ? 0 : 1;
}
