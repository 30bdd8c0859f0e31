#pragma once
// Starting the launcher's own elevated steps (common/update_flow/install_step.h) with the shell's "runas"
// verb: one UAC prompt, which names this program. Nothing else is ever started elevated: the client, the
// home page and the registration question all run as the user.
//
// A seam for tests replaces the elevation mechanism, and only that, in test builds only (CMake option
// VANTORIX_TEST_ELEVATION_SEAM, which the configuration refuses without the throw-away update keys: a
// release cannot carry it; elevation.cpp is compiled into each launcher with VANTORIX_ELEVATION_SEAM 1 or 0).
// With the seam built in and the environment variable VANTORIX_TEST_ELEVATION naming a folder, RunElevated
// starts nothing. It writes the program and its parameters to "<folder>\elevation-request.txt" (UTF-8, one
// line each) and waits, while the form answers, for "<folder>\elevation-answer.txt": "declined", or the
// decimal exit code of the step, which the test harness has run with administrator rights itself. The
// process gets no right from it that it did not have: it learns an exit code, as it would from the real
// step. A launcher built without the seam ignores the variable.
#include <windows.h>
#include <shellapi.h>

#include <optional>
#include <string>

#include "win/unique_handle.h"

namespace vantorix::launcher {

// The test seams (test builds only): the elevation's, VANTORIX_TEST_ELEVATION, and the maintenance service's
// start, VANTORIX_TEST_SERVICE (launcher/app/service_install.h). The folder the variable names; "" without
// the variable, and always in a build without the seams (which does not even hold the variables' names).
enum class TestSeam { Elevation, Service };
std::wstring TestSeamFolder(TestSeam seam);
// Writes "<folder>\<name>-request.txt" whole (a temporary name, then renamed) and waits, while the thread's
// window messages run, for "<folder>\<name>-answer.txt"; the answer's text (both files then removed), or
// nullopt with the system's error when the request cannot be written or no answer comes within 10 minutes.
std::optional<std::string> AskTestSeam(const std::wstring& folder, const std::wstring& name, const std::string& request,
                                       unsigned long& error);

enum class ElevationStatus { Started, Declined, Failed };

struct ElevatedStart {
    ElevationStatus status = ElevationStatus::Failed;
    win::unique_kernel_handle process;  // when Started
    unsigned long error = 0;            // when Failed
};

using ShellExecuteFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);

// ShellExecuteEx with "runas", hidden, SEE_MASK_NOCLOSEPROCESS: the started process, or Declined when the
// user refused the prompt (ERROR_CANCELLED).
ElevatedStart StartElevated(const std::wstring& program, const std::wstring& parameters, const std::wstring& folder,
                            HWND owner, ShellExecuteFunction shell_execute = &ShellExecuteExW);

struct ElevatedRun {
    ElevationStatus status = ElevationStatus::Failed;
    unsigned long exit_code = 0;  // when Started: the step's exit code
    unsigned long error = 0;      // when Failed
};

// Starts the step elevated (or hands it to the test seam) and waits until it has ended; the calling
// thread's window messages run meanwhile, so the form keeps answering.
ElevatedRun RunElevated(const std::wstring& program, const std::wstring& parameters, HWND owner);

}  // namespace vantorix::launcher
