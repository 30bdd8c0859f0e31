#include "launcher/services/process_cost.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>

namespace vantorix::services {

std::wstring ProcessCostText() {
    FILETIME created{}, exited{}, kernel{}, user{};
    double cpu = 0;
    if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        auto ticks = [](const FILETIME& t) { return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
        cpu = static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
    }
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    const double peak_mb = K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory)
                               ? static_cast<double>(memory.PeakWorkingSetSize) / (1024.0 * 1024.0)
                               : 0;
    wchar_t text[96];
    std::swprintf(text, 96, L"cpu %.3f s, peak working set %.1f MB", cpu, peak_mb);
    return text;
}

std::wstring SecondsText(double seconds) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%.3f", seconds);
    return text;
}

}  // namespace vantorix::services
