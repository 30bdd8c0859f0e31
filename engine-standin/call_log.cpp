#include "engine-standin/call_log.h"

#include <windows.h>

#include <mutex>

#include "win/diagnostic_log.h"
#include "win/unique_handle.h"

namespace standin {
namespace {

struct Log {
    std::mutex lock;
    std::vector<LogEntry> entries;
    bool enabled = true;
    bool file_checked = false;
    vantorix::win::unique_hfile file;

    // The file is opened once, for appending, shared so that a test can read it while the program runs.
    void WriteLine(const std::string& line) {
        if (!file_checked) {
            file_checked = true;
            wchar_t path[MAX_PATH * 2];
            DWORD n = GetEnvironmentVariableW(L"VANTORIX_STANDIN_LOG", path, MAX_PATH * 2);
            if (n > 0 && n < MAX_PATH * 2)
                file.reset(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        }
        if (!file) return;
        std::string text = line + "\r\n";
        DWORD written = 0;
        WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
};

Log& TheLog() {
    static Log log;
    return log;
}

const char kHex[] = "0123456789abcdef";

}  // namespace

std::string FormatLine(const LogEntry& entry) {
    std::string line = entry.name;
    for (const Argument& a : entry.args) {
        line += ' ';
        line += a.kind;
        line += '=';
        if (a.is_null) {
            line += "null";
            continue;
        }
        for (std::uint8_t byte : a.bytes) {
            line += kHex[byte >> 4];
            line += kHex[byte & 15];
        }
    }
    return line;
}

void AppendToLog(const char* name, const Arguments& args) {
    Log& log = TheLog();
    std::lock_guard<std::mutex> guard(log.lock);
    if (!log.enabled) return;
    LogEntry entry{name, args.items()};
    log.WriteLine(FormatLine(entry));
    log.entries.push_back(std::move(entry));
}

void AppendNoteToFile(const std::string& line) {
    Log& log = TheLog();
    std::lock_guard<std::mutex> guard(log.lock);
    log.WriteLine(line);
}

void RecordFailure(const char* where) {
    const char* message = vantorix::win::diag::CurrentExceptionMessage();
    const std::string line = std::string("#failed ") + where + ": " + (message ? message : "unknown exception");
    OutputDebugStringA((line + "\n").c_str());
    AppendNoteToFile(line);
}

int LogSize() {
    Log& log = TheLog();
    std::lock_guard<std::mutex> guard(log.lock);
    return static_cast<int>(log.entries.size());
}

bool LogEntryAt(int index, LogEntry& out) {
    Log& log = TheLog();
    std::lock_guard<std::mutex> guard(log.lock);
    if (index < 0 || index >= static_cast<int>(log.entries.size())) return false;
    out = log.entries[index];
    return true;
}

int LogFind(const std::string& name, int from) {
    Log& log = TheLog();
    std::lock_guard<std::mutex> guard(log.lock);
    for (int i = from < 0 ? 0 : from; i < static_cast<int>(log.entries.size()); ++i)
        if (log.entries[i].name == name) return i;
    return -1;
}

void EnableLog(bool on) {
    Log& log = TheLog();
    std::lock_guard<std::mutex> guard(log.lock);
    log.enabled = on;
}

void ClearLog() {
    Log& log = TheLog();
    std::lock_guard<std::mutex> guard(log.lock);
    log.entries.clear();
}

}  // namespace standin
