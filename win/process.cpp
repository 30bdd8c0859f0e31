#include "win/process.h"

#include "win/unique_handle.h"

namespace vantorix::win {

std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count double only in front of a quote.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

std::wstring BuildCommandLine(const std::wstring& program, const std::vector<std::wstring>& arguments) {
    std::wstring line = QuoteArgument(program);
    for (const auto& argument : arguments) {
        line += L' ';
        line += QuoteArgument(argument);
    }
    return line;
}

namespace {

bool IsBatchFile(const std::wstring& program) {
    auto dot = program.find_last_of(L".\\/");
    if (dot == std::wstring::npos || program[dot] != L'.') return false;
    std::wstring ext = program.substr(dot);
    return CompareStringOrdinal(ext.c_str(), -1, L".bat", -1, TRUE) == CSTR_EQUAL ||
           CompareStringOrdinal(ext.c_str(), -1, L".cmd", -1, TRUE) == CSTR_EQUAL;
}

// The system's own command interpreter by its full path: neither ComSpec nor the search path (which
// begins with the caller's folder) may choose which program runs a script.
std::wstring CommandInterpreter() {
    wchar_t buffer[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryW(buffer, MAX_PATH);
    return std::wstring(buffer, n < MAX_PATH ? n : 0) + L"\\cmd.exe";
}

}  // namespace

unique_kernel_handle StartProgramTracked(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                         int show, const std::wstring& folder) {
    std::wstring application;
    std::wstring line;
    if (IsBatchFile(program)) {
        // cmd /s /c strips exactly the outer pair of quotes and runs what is inside unchanged.
        application = CommandInterpreter();
        line = QuoteArgument(application) + L" /d /s /c \"" + BuildCommandLine(program, arguments) + L"\"";
    } else {
        line = BuildCommandLine(program, arguments);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(show);
    PROCESS_INFORMATION info{};
    DWORD flags = show == SW_HIDE ? CREATE_NO_WINDOW : 0;
    if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), line.data(), nullptr, nullptr,
                        FALSE, flags, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info))
        return {};
    unique_kernel_handle thread(info.hThread);
    return unique_kernel_handle(info.hProcess);
}

unique_kernel_handle StartProgramAsShellUser(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                             int show) {
    const HWND shell = GetShellWindow();
    DWORD shell_id = 0;
    if (!shell || !GetWindowThreadProcessId(shell, &shell_id) || !shell_id) {
        SetLastError(ERROR_NOT_FOUND);
        return {};
    }
    unique_kernel_handle shell_process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shell_id));
    unique_kernel_handle shell_token, token;
    if (!shell_process || !OpenProcessToken(shell_process.get(), TOKEN_DUPLICATE, shell_token.put()) ||
        !DuplicateTokenEx(shell_token.get(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT |
                                                 TOKEN_ADJUST_SESSIONID,
                          nullptr, SecurityImpersonation, TokenPrimary, token.put()))
        return {};
    std::wstring line = BuildCommandLine(program, arguments);
    const size_t cut = program.find_last_of(L'\\');
    const std::wstring folder = cut == std::wstring::npos ? L"" : program.substr(0, cut);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(show);
    PROCESS_INFORMATION info{};
    if (!CreateProcessWithTokenW(token.get(), 0, program.c_str(), line.data(), 0, nullptr,
                                 folder.empty() ? nullptr : folder.c_str(), &startup, &info))
        return {};
    unique_kernel_handle thread(info.hThread);
    return unique_kernel_handle(info.hProcess);
}

bool StartProgram(const std::wstring& program, const std::vector<std::wstring>& arguments, int show,
                  const std::wstring& folder) {
    return static_cast<bool>(StartProgramTracked(program, arguments, show, folder));
}

}  // namespace vantorix::win
