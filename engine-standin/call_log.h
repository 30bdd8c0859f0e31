#pragma once
// The log of engine calls a test reads back: in memory, and appended to the file that the environment
// variable VANTORIX_STANDIN_LOG names (read when the first line is written).
#include <string>
#include <vector>

#include "engine-standin/arguments.h"

namespace standin {

struct LogEntry {
    std::string name;
    std::vector<Argument> args;
};

void AppendToLog(const char* name, const Arguments& args);
// A free-form line for the log file only ("#standin ..."), used by the control window.
void AppendNoteToFile(const std::string& line);
// Records the exception being handled ("#failed <where>: <what>") in the log file and the debugger's
// output: every export and window procedure of the engine turns a throw into its neutral answer there.
void RecordFailure(const char* where);
// The entry's text line: name, then " kind=hex" per argument ("null" for a null text pointer).
std::string FormatLine(const LogEntry& entry);

// Copies of the log for the control surface (the log may grow while a caller holds one).
int LogSize();
bool LogEntryAt(int index, LogEntry& out);
int LogFind(const std::string& name, int from);
void ClearLog();
void EnableLog(bool on);

}  // namespace standin
