#pragma once
// Module wke: the engine library's name and the check that the engine file sits in the control library's
// own folder. The engine itself is loaded by its bare name on the first engine call, so the standard
// library search decides which file runs; the check only decides whether the user is told.
#include <string>

namespace velview::wke {

// "node.dll" once a check has run (empty before).
const std::wstring& EngineLibraryName();
bool EnginePresent();

// Runs at every MiniblinkAPI creation: sets the name, and unless the file was found before, looks for it
// in the library's folder. Missing: the notice runs ("node.dll 不存在", system-modal) and the next
// creation checks again. Found once: never checked again.
void CheckEngineFile();

// What a missing engine file shows. Tests replace it; nullptr restores the message box.
using MissingEngineNotice = void (*)();
void SetMissingEngineNotice(MissingEngineNotice notice);

}  // namespace velview::wke
