#pragma once
// Module wke: the engine library's name and the check that the engine file sits in the control library's
// own folder. The engine is loaded on the first engine call: by the full path of the file the check found,
// or, while none was found, by its bare name from the safe default folders only (never the current
// directory: see LoadLibrarySafely in the call bridge).
#include <string>

namespace velview::wke {

// The full path of the engine file once a check has found it; "node.dll" after a check that did not
// (empty before any check).
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
