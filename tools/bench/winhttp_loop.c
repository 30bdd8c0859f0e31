/* winhttp_loop URL FILE: the least a Windows program does to download a file over plain HTTP - one
 * synchronous WinHTTP request, 64 KiB reads written straight to FILE - and what it cost, counted by the
 * process itself from its first line on: bytes=N seconds=S cpu_s=C peak_mb=M. The reference the launcher's download is measured
 * against (tools/bench/update_cost.sh). */
#include <windows.h>
#include <winhttp.h>
#include <psapi.h>
#include <stdio.h>

static double Seconds(const FILETIME* t) {
    return (double)(((unsigned long long)t->dwHighDateTime << 32) | t->dwLowDateTime) / 1e7;
}

static double ProcessCpuSeconds(void) {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return Seconds(&kernel) + Seconds(&user);
}

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fwprintf(stderr, L"usage: winhttp_loop URL FILE\n");
        return 2;
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const double cpu_at_start = ProcessCpuSeconds();  /* the process's start-up is left out, as the launcher's */
    URL_COMPONENTS parts = {sizeof parts};
    wchar_t host[256], path[2048];
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!WinHttpCrackUrl(argv[1], 0, 0, &parts)) return 3;
    HINTERNET session = WinHttpOpen(L"winhttp_loop", WINHTTP_ACCESS_TYPE_NO_PROXY, NULL, NULL, 0);
    HINTERNET connection = session ? WinHttpConnect(session, host, parts.nPort, 0) : NULL;
    HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", path, NULL, NULL, NULL, 0) : NULL;
    if (!request || !WinHttpSendRequest(request, NULL, 0, NULL, 0, 0, 0) || !WinHttpReceiveResponse(request, NULL))
        return 4;
    HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 5;
    static char buffer[65536];
    unsigned long long total = 0;
    for (;;) {
        DWORD got = 0, written = 0;
        if (!WinHttpReadData(request, buffer, sizeof buffer, &got)) return 6;
        if (got == 0) break;
        if (!WriteFile(file, buffer, got, &written, NULL) || written != got) return 7;
        total += got;
    }
    CloseHandle(file);
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    QueryPerformanceCounter(&end);
    PROCESS_MEMORY_COUNTERS memory = {sizeof memory};
    K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    printf("bytes=%llu seconds=%.3f cpu_s=%.3f peak_mb=%.1f\n", total,
           (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart, ProcessCpuSeconds() - cpu_at_start,
           (double)memory.PeakWorkingSetSize / 1048576.0);
    return 0;
}
