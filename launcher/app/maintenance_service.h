#pragma once
// The maintenance service: "VantorixAssist.exe -service", started on demand by the service manager as
// LocalSystem (installed by the setup; request, result and configuration: common/update_flow/
// service_request.h). Each start is one request: the same install as the elevated "-install-update" step
// (RunInstallRequest), its exit code written to the request's result file, then the service stops. A second
// request while one runs is refused by the service manager itself (the service is running). The service
// refuses, writing nothing, when the administrator's policy disables it or when its program is not in the
// installation it serves.
namespace vantorix::launcher {

// Hands the process to the service manager; returns when the service has stopped. The process's exit
// code: the request's, or ServiceRefused when the program was not started by the service manager.
int RunMaintenanceService();

}  // namespace vantorix::launcher
