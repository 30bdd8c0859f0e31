#pragma once
// The user's side of the maintenance service (common/update_flow/service_request.h): the launcher asks
// the service of its installation to run the install step, instead of asking for the elevated step, when
// the setup installed one, the administrator's policy allows it and this user may start it.
//
// A seam for tests replaces the service manager's start, and only that, in test builds only (as the
// elevation's: launcher/app/elevation.h): with the environment variable VANTORIX_TEST_SERVICE naming a folder, the launcher writes the service's name and the start arguments,
// one per line (UTF-8), to "<folder>\service-request.txt" and waits, while the form answers, for
// "<folder>\service-answer.txt": the decimal error of the start (0: the service started). The test harness
// starts the service with those arguments through the service manager of its own Wine prefix; the launcher
// then reads the request's result file from the installation, as it always does.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace vantorix::launcher {

// nullopt: there is no service to ask (none for this installation, disabled by the policy or in the service
// manager, this user may not start it): the caller asks for the elevated step as before. Otherwise the
// exit code of the request as the step's table has it: the service's result, InstallBusy when another
// request runs, Failed when the service ended without a result it wrote. The calling thread's window
// messages run while it waits.
std::optional<unsigned long> InstallThroughService(const std::wstring& installation,
                                                   const std::vector<std::wstring>& step_arguments);

}  // namespace vantorix::launcher
