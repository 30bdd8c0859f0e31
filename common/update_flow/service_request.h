#pragma once
// The maintenance service's request and result: what the user's launcher hands the service as start
// arguments, and the result file the service leaves for it. The service is the launcher's own program
// started by the service manager as "VantorixAssist.exe -service"; it runs the same install step as
// "-install-update" (launcher/app/install_steps.h) for one request and ends.
//
// Start arguments (StartServiceW's argv; the service manager puts the service's name in front):
//     <nonce> -install-update <archive> <manifest> [-delta]
// <nonce>: 32 lower-case hexadecimal digits the launcher drew at random; the rest is exactly the elevated
// step's command line. The service writes the step's exit code to
//     <installation>\update\results\<nonce>.result        ("exit=<code>" and a line break)
// in a folder only SYSTEM and the administrators may write, so a result there was written by the service.
//
// Configuration (the 32-bit view of HKLM, written by the setup):
//     Software\Vantorix\VantorixAssist\MaintenanceService\<service name>, value "Installation": the folder
//     the service serves. A service started from any other folder refuses.
// Policy: Software\Policies\Vantorix\VantorixAssist (either view), DWORD "DisableMaintenanceService" not 0: the service
// refuses every request and the launcher does not ask it (it asks for the elevated step as before).
#include <optional>
#include <string>
#include <vector>

namespace vantorix::update_flow {

inline constexpr wchar_t kServiceArgument[] = L"-service";
// The first installation's service; further ones side by side add "-2", "-3" ... as their uninstall keys do.
inline constexpr wchar_t kServiceName[] = L"VantorixAssistUpdate";
inline constexpr wchar_t kServiceConfigKey[] = L"Software\\Vantorix\\VantorixAssist\\MaintenanceService";
inline constexpr wchar_t kServiceInstallationValue[] = L"Installation";
// The signer the service accepts: the public key of the certificate that signed the launcher the setup
// installed (its Authenticode signature), as lower-case hexadecimal text. The service runs only while its
// own program carries that signer's valid signature, and installs only programs of the same signer.
inline constexpr wchar_t kServiceSignerValue[] = L"Signer";
inline constexpr wchar_t kServicePolicyKey[] = L"Software\\Policies\\Vantorix\\VantorixAssist";
inline constexpr wchar_t kServicePolicyValue[] = L"DisableMaintenanceService";
inline constexpr size_t kNonceDigits = 32;

// The signer's key bytes as kServiceSignerValue keeps them, and back ("" for text that is not such hex).
std::wstring SignerText(const std::string& key);
std::string SignerKey(const std::wstring& text);

// Exactly kNonceDigits digits 0-9, a-f: nothing else ever becomes part of a result file's name.
bool IsNonce(const std::wstring& text);

struct ServiceRequest {
    std::wstring nonce;
    std::vector<std::wstring> step_arguments;  // "-install-update" <archive> <manifest> ["-delta"]
};

// The start arguments the launcher passes (without the service's name).
std::vector<std::wstring> ServiceStartArguments(const std::wstring& nonce, const std::vector<std::wstring>& step_arguments);

// The arguments the service received (its name first, as the service manager passes them): nullopt when
// there is no nonce or what follows it does not begin with "-install-update". The step's own parser judges
// the rest.
std::optional<ServiceRequest> ParseServiceRequest(const std::vector<std::wstring>& service_arguments);

// "<installation>\update\results" and the result file of one request in it.
std::wstring ServiceResultsFolderOf(const std::wstring& installation);
std::wstring ServiceResultPathOf(const std::wstring& installation, const std::wstring& nonce);

// The result file's bytes for an exit code, and back: nullopt for anything but exactly that form.
std::string ServiceResultText(unsigned long exit_code);
std::optional<unsigned long> ParseServiceResult(const std::string& text);

}  // namespace vantorix::update_flow
