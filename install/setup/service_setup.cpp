// ServiceSetup.exe install NAME LAUNCHER | remove NAME: the setup's hands on the maintenance service.
//   install: creates the service NAME (or sets it again on a repair): "LAUNCHER" -service, its own process,
//            started on demand, as LocalSystem, with access rights that let interactive users start it and
//            read its state, and nobody but SYSTEM and the administrators change, stop or delete it.
//   remove:  deletes the service NAME; one that still runs a request goes when that request ends. A service
//            that does not exist counts as removed.
// install also writes the signer the service accepts into its configuration (update_flow::kServiceSignerValue):
// the signer of LAUNCHER's valid Authenticode signature; a launcher without one gets no signer, and such a
// service refuses every request. The installation it serves is written by the setup itself. It runs
// elevated from the setup's temporary folder. Exit code 0; 2 for a wrong command line; otherwise the
// system's error code, which it also prints.
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <string>

#include "common/integrity/publisher_signature.h"
#include "common/update_flow/service_request.h"
#include "launcher/services/authenticode.h"
#include "win/system_libraries.h"
#include "win/unique_handle.h"

namespace {

using vantorix::win::unique_local_memory;
using vantorix::win::unique_sc_handle;

// Display names are unique too: installations side by side name their services apart.
constexpr wchar_t kDisplayName[] = L"TAVI助手Plus 更新服务";
constexpr wchar_t kDescription[] =
    L"Installs the maker's signed updates of TAVI助手Plus for users who may not write its folder.";
// SYSTEM and the administrators: everything. Interactive users: start (RP) and query its state (LC), nothing
// else: no stop, pause, configuration change, deletion or change of these rights.
constexpr wchar_t kServiceSecurity[] =
    L"D:P(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;RPLC;;;IU)";

int Fail(const char* what) {
    const DWORD error = GetLastError();
    std::printf("%s failed: error %lu\n", what, error);
    return error ? static_cast<int>(error) : 1;
}

int WriteSigner(const std::wstring& name, const std::wstring& launcher) {
    const vantorix::integrity::SignatureFacts facts = vantorix::services::ReadAuthenticode(launcher);
    if (!facts.valid || facts.signer_key.empty()) {
        std::printf("the launcher carries no valid signature (0x%08lX): no signer is configured\n", facts.code);
        return 0;
    }
    const std::wstring key = std::wstring(vantorix::update_flow::kServiceConfigKey) + L"\\" + name;
    const std::wstring text = vantorix::update_flow::SignerText(facts.signer_key);
    vantorix::win::unique_hkey config;
    LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr,
                                 config.put(), nullptr);
    if (rc == ERROR_SUCCESS)
        rc = RegSetValueExW(config.get(), vantorix::update_flow::kServiceSignerValue, 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return Fail("writing the signer");
    }
    std::printf("signer %s\n", facts.signer_name.c_str());
    return 0;
}

int Install(const std::wstring& name, const std::wstring& launcher) {
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) return Fail("OpenSCManager");
    const std::wstring command = L"\"" + launcher + L"\" -service";
    const std::wstring display = std::wstring(kDisplayName) + L" (" + name + L")";
    unique_sc_handle service(CreateServiceW(manager.get(), name.c_str(), display.c_str(), SERVICE_ALL_ACCESS,
                                            SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                            command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service && GetLastError() == ERROR_SERVICE_EXISTS) {
        // A repair or upgrade: the same service, set as this setup would create it.
        service.reset(OpenServiceW(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
        if (!service) return Fail("OpenService");
        if (!ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                  command.c_str(), nullptr, nullptr, nullptr, L"LocalSystem", L"", display.c_str()))
            return Fail("ChangeServiceConfig");
    }
    if (!service) return Fail("CreateService");
    SERVICE_DESCRIPTIONW description{const_cast<wchar_t*>(kDescription)};
    if (!ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &description))
        std::printf("the description was not set: error %lu\n", GetLastError());
    unique_local_memory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kServiceSecurity, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr))
        return Fail("ConvertStringSecurityDescriptorToSecurityDescriptor");
    if (!SetServiceObjectSecurity(service.get(), DACL_SECURITY_INFORMATION, descriptor.get()))
        return Fail("SetServiceObjectSecurity");
    std::printf("service %ls installed\n", name.c_str());
    return WriteSigner(name, launcher);
}

int Remove(const std::wstring& name) {
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return Fail("OpenSCManager");
    unique_sc_handle service(OpenServiceW(manager.get(), name.c_str(), DELETE));
    if (!service && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
        std::printf("service %ls does not exist\n", name.c_str());
        return 0;
    }
    if (!service) return Fail("OpenService");
    if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) return Fail("DeleteService");
    std::printf("service %ls removed\n", name.c_str());
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    vantorix::win::LoadSystemLibrariesFromSystemFolderOnly();
    const std::wstring verb = argc > 1 ? argv[1] : L"";
    if (verb == L"install" && argc == 4) return Install(argv[2], argv[3]);
    if (verb == L"remove" && argc == 3) return Remove(argv[2]);
    std::fputs("usage: ServiceSetup.exe install NAME LAUNCHER-PATH | remove NAME\n", stderr);
    return 2;
}
