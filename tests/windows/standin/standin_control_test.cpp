// Another process drives the engine of a running program through its control window, and reads what the
// engine received from the log file, as end-to-end tests of client.exe do.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine-standin/standin_locate.h"
#include "tests/windows/standin/standin_test_support.h"
#include "win/unique_handle.h"

using namespace standin_test;
using vantorix::win::unique_kernel_handle;

namespace {

std::wstring BinFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L'\\'));
}

std::string ReadAll(const std::wstring& path) {
    vantorix::win::unique_hfile f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
    if (!f) return {};
    std::string out(1 << 20, '\0');
    DWORD read = 0;
    ReadFile(f.get(), &out[0], static_cast<DWORD>(out.size()), &read, nullptr);
    out.resize(read);
    return out;
}

struct Process {
    unique_kernel_handle process;
    DWORD id = 0;
};

Process Start(const std::wstring& command_line) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring line = command_line;
    Process p;
    // The host and the tool are console programs: without a console of their own to make, their start does
    // not wait for a console host process, which on a busy emulated machine can take long.
    if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        p.process.reset(pi.hProcess);
        p.id = pi.dwProcessId;
    }
    return p;
}

// Waits for a process while this thread keeps answering messages; its exit code, or -1 on timeout.
int WaitFor(const Process& p, DWORD ms) {
    DWORD end = GetTickCount() + ms;
    for (;;) {
        HANDLE h = p.process.get();
        DWORD left = end - GetTickCount();
        if (static_cast<int>(left) <= 0) return -1;
        DWORD r = MsgWaitForMultipleObjects(1, &h, FALSE, left, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(h, &code);
            return static_cast<int>(code);
        }
        PumpMessages();
    }
}

LRESULT Command(HWND target, const std::string& utf8) {
    COPYDATASTRUCT data{STANDIN_COPYDATA_MAGIC, static_cast<DWORD>(utf8.size()), const_cast<char*>(utf8.data())};
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 10000, &result))
        return -100;
    return static_cast<LRESULT>(result);
}

}  // namespace

TEST(StandinControl, AnotherProcessClicksPageButtonsAndReadsTheCallLogInOrder) {
    std::wstring page = WriteTempFile(L"standin_control_page.html",
                                      "<title>Control</title><a onclick=\"onJsCall('btn','maximize')\">Maximise</a>"
                                      "<a onclick=\"onJsCall('btn','close')\">\xE5\x85\xB3\xE9\x97\xAD</a>");
    std::wstring log = WriteTempFile(L"standin_control.log", "");
    std::wstring calls = WriteTempFile(L"standin_control_calls.txt", "");
    SetEnvironmentVariableW(L"VANTORIX_STANDIN_LOG", log.c_str());
    Process host = Start(L"\"" + BinFolder() + L"\\standin_host.exe\" \"" + page + L"\" \"" + calls + L"\"");
    SetEnvironmentVariableW(L"VANTORIX_STANDIN_LOG", nullptr);
    ASSERT_TRUE(host.process);

    // The host's engine answers once it is initialised; the page is there once a click finds its button.
    HWND control = nullptr;
    LRESULT clicked = 0;
    // Up to a minute by the clock: a budget of loop rounds would shrink whenever messages for this thread cut
    // the waits short, and a host that starts slowly on a busy machine was then given up on after seconds.
    const ULONGLONG started = GetTickCount64();
    while (clicked != 1 && GetTickCount64() - started < 60000) {
        if (!control) control = standin::FindControlWindow(host.id);
        if (control) clicked = Command(control, "click\tMaximise");
        // Keep answering messages while waiting: the host's windows may send some to ours (activation).
        if (clicked != 1) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
            PumpMessages();
        }
    }
    DWORD host_state = WaitForSingleObject(host.process.get(), 0);
    ASSERT_TRUE(control) << "the host's control window never appeared in " << (GetTickCount64() - started)
                         << " ms; host "
                         << (host_state == WAIT_OBJECT_0 ? "ended" : "still runs") << "; its log:\n" << ReadAll(log);
    EXPECT_EQ(clicked, 1);
    EXPECT_EQ(Command(control, "views"), 1);
    EXPECT_EQ(Command(control, "click\tNo such label"), 0);
    EXPECT_EQ(Command(control, "fire\twkeOnDownload\turl=http://127.0.0.1/x.zip"), 0);  // nothing registered
    EXPECT_EQ(Command(control, "bogus"), -1);
    EXPECT_EQ(Command(control, "fire\twkeOnDownload\tnokey"), -1);

    // The tool does the same from a command line; the page's "close" ends the host.
    Process tool = Start(L"\"" + BinFolder() + L"\\standinctl.exe\" --pid " + std::to_wstring(host.id) + L" click \u5173\u95ED");
    ASSERT_TRUE(tool.process);
    EXPECT_EQ(WaitFor(tool, 30000), 0);
    EXPECT_EQ(WaitFor(host, 30000), 0) << "the host did not see the page's close call";

    EXPECT_EQ(ReadAll(calls), "btn|maximize\nbtn|close\n");
    std::string text = ReadAll(log);
    // The host's operations in order, each with its arguments as bytes.
    const char* expected[] = {
        "wkeInitializeEx i=00000000\r\n",
        "wkeJsBindFunction a=6f6e4a7343616c6c c=",
        "wkeCreateWebWindow i=00000000 i=00000000 i=28000000 i=28000000 i=d0020000 i=a4010000\r\n",
        "wkeShowWindow i=",
        "wkeLoadFileW i=",
        "#standin click\tMaximise\r\n",
        "jsArg i=",
        "#standin click\tMaximise -> 1\r\n",
        "#standin click\tNo such label -> 0\r\n",
        "#standin click\t\xE5\x85\xB3\xE9\x97\xAD -> 1\r\n",
    };
    std::size_t at = 0;
    for (const char* line : expected) {
        std::size_t found = text.find(line, at);
        EXPECT_NE(found, std::string::npos) << "missing after offset " << at << ": " << line << "\nlog:\n" << text;
        if (found != std::string::npos) at = found;
    }
}

TEST(StandinControl, TheToolReportsWhenNoEngineIsReachable) {
    Process tool = Start(L"\"" + BinFolder() + L"\\standinctl.exe\" --pid 1 views");
    ASSERT_TRUE(tool.process);
    EXPECT_EQ(WaitFor(tool, 30000), 2);
}
