#pragma once
// What the setup wrote about the maintenance service (common/update_flow/service_request.h): the
// installation each service serves and the administrator's policy, read from the 32-bit view of HKLM,
// which only administrators may change.
#include <string>

namespace vantorix::launcher {

// True when the policy value DisableMaintenanceService is set and not 0.
bool ServicePolicyDisables();

// The folder the named service serves; "" when the setup registered no such service.
std::wstring ServedInstallation(const std::wstring& service_name);

// The signer the named service accepts (update_flow::kServiceSignerValue): its key bytes; "" when none is
// configured or the value is malformed.
std::string AcceptedSigner(const std::wstring& service_name);

// The name of the service that serves `installation` (compared as one folder, not as text:
// protected_installation.h's SameFolder); "" when none.
std::wstring ServiceServing(const std::wstring& installation);

}  // namespace vantorix::launcher
