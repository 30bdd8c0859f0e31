// Runs a program in a job of its own, waits for it, and writes how many processes the job has held in all
// ("processes=N") to standard output: every process the program starts joins its job, so the count says
// for certain whether it started any, however quickly a started one ran and ended. Returns the program's
// exit code (255 when it could not be run).
//   run_in_job.exe <program> [arguments...]
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "win/process.h"
#include "win/unique_handle.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 255;
    const vantorix::win::unique_kernel_handle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) return 255;
    std::wstring line = vantorix::win::BuildCommandLine(argv[1], std::vector<std::wstring>(argv + 2, argv + argc));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // Suspended until it is in the job, so that nothing it starts can be outside it.
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup, &info))
        return 255;
    const vantorix::win::unique_kernel_handle process(info.hProcess), thread(info.hThread);
    if (!AssignProcessToJobObject(job.get(), process.get())) {
        TerminateProcess(process.get(), 255);
        return 255;
    }
    ResumeThread(thread.get());
    WaitForSingleObject(process.get(), INFINITE);
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    if (!QueryInformationJobObject(job.get(), JobObjectBasicAccountingInformation, &accounting, sizeof accounting, nullptr))
        return 255;
    std::printf("processes=%lu\n", static_cast<unsigned long>(accounting.TotalProcesses));
    DWORD code = 255;
    GetExitCodeProcess(process.get(), &code);
    return static_cast<int>(code);
}
