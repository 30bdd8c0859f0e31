#include "launcher/app/service_config.h"

#include <windows.h>

#include "common/update_flow/service_request.h"
#include "launcher/app/protected_installation.h"
#include "win/registry_text.h"

namespace vantorix::launcher {

namespace {

// A text value, "" when it is missing or not text.
std::wstring ReadText(HKEY key, const wchar_t* value) { return win::ReadTextValue(key, value).value_or(L""); }

}  // namespace

bool ServicePolicyDisables() {
    // An administrator's tool may write either view on 64-bit Windows; either one disables the service.
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        const win::unique_hkey key = win::OpenMachineKey(update_flow::kServicePolicyKey, view);
        DWORD type = 0, value = 0, size = sizeof value;
        if (key &&
            RegQueryValueExW(key.get(), update_flow::kServicePolicyValue, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                             &size) == ERROR_SUCCESS &&
            type == REG_DWORD && value != 0)
            return true;
    }
    return false;
}

std::wstring ServedInstallation(const std::wstring& service_name) {
    if (service_name.empty() || service_name.find(L'\\') != std::wstring::npos) return L"";
    const win::unique_hkey key = win::OpenMachineKey(std::wstring(update_flow::kServiceConfigKey) + L"\\" + service_name);
    return key ? ReadText(key.get(), update_flow::kServiceInstallationValue) : L"";
}

std::string AcceptedSigner(const std::wstring& service_name) {
    if (service_name.empty() || service_name.find(L'\\') != std::wstring::npos) return "";
    const win::unique_hkey key = win::OpenMachineKey(std::wstring(update_flow::kServiceConfigKey) + L"\\" + service_name);
    return key ? update_flow::SignerKey(ReadText(key.get(), update_flow::kServiceSignerValue)) : "";
}

std::wstring ServiceServing(const std::wstring& installation) {
    const win::unique_hkey services = win::OpenMachineKey(update_flow::kServiceConfigKey);
    for (DWORD i = 0; services; ++i) {
        wchar_t name[256] = {};
        DWORD length = 256;
        if (RegEnumKeyExW(services.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        const std::wstring served = ServedInstallation(name);
        if (!served.empty() && SameFolder(served, installation)) return name;
    }
    return L"";
}

}  // namespace vantorix::launcher
