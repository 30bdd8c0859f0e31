// downloader_fetch URL FILE: downloads one URL with WinHttpDown, as the launcher would, and prints one line
//   state=9 bytes=N seconds=S peak_working_set=B peak_pagefile=B
// for the throughput benchmark (tools/bench/downloader_bench.sh).
#include <windows.h>
#include <psapi.h>

#include <cstdio>

#include "launcher/download/WinHttpDown.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: downloader_fetch URL FILE\n");
        return 2;
    }
    vantorix::launcher::WinHttpDown dl;
    dl.URL = argv[1];
    dl.FileName = argv[2];
    int last = 0;
    dl.StateChanged = [&](std::int16_t state) {
        last = state;
        if (state >= 4) ::PostQuitMessage(0);
    };
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    dl.GetStart();
    MSG message;
    while (dl.Busy() && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    ::QueryPerformanceCounter(&end);
    WIN32_FILE_ATTRIBUTE_DATA info{};
    unsigned long long bytes = 0;
    if (::GetFileAttributesExW(argv[2], GetFileExInfoStandard, &info))
        bytes = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory));
    std::printf("state=%d bytes=%llu seconds=%.3f peak_working_set=%lu peak_pagefile=%lu\n", last, bytes,
                static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart,
                static_cast<unsigned long>(memory.PeakWorkingSetSize),
                static_cast<unsigned long>(memory.PeakPagefileUsage));
    return last == 9 ? 0 : 1;
}
