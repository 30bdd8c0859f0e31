#include "common/update_flow/service_request.h"

#include "common/update_flow/install_step.h"
#include "common/update_flow/update_flow.h"

namespace vantorix::update_flow {

bool IsNonce(const std::wstring& text) {
    if (text.size() != kNonceDigits) return false;
    for (const wchar_t c : text)
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
    return true;
}

std::vector<std::wstring> ServiceStartArguments(const std::wstring& nonce, const std::vector<std::wstring>& step_arguments) {
    std::vector<std::wstring> arguments{nonce};
    arguments.insert(arguments.end(), step_arguments.begin(), step_arguments.end());
    return arguments;
}

std::optional<ServiceRequest> ParseServiceRequest(const std::vector<std::wstring>& service_arguments) {
    if (service_arguments.size() < 3 || !IsNonce(service_arguments[1]) || service_arguments[2] != kInstallUpdateArgument)
        return std::nullopt;
    return ServiceRequest{service_arguments[1], {service_arguments.begin() + 2, service_arguments.end()}};
}

std::wstring ServiceResultsFolderOf(const std::wstring& installation) {
    return UpdateFolderOf(installation) + L"\\results";
}

std::wstring ServiceResultPathOf(const std::wstring& installation, const std::wstring& nonce) {
    return ServiceResultsFolderOf(installation) + L"\\" + nonce + L".result";
}

std::string ServiceResultText(unsigned long exit_code) { return "exit=" + std::to_string(exit_code) + "\n"; }

std::optional<unsigned long> ParseServiceResult(const std::string& text) {
    constexpr char kPrefix[] = "exit=";
    if (text.rfind(kPrefix, 0) != 0 || text.size() < sizeof kPrefix + 1 || text.back() != '\n') return std::nullopt;
    const std::string digits = text.substr(sizeof kPrefix - 1, text.size() - sizeof kPrefix);
    if (digits.empty() || digits.size() > 10) return std::nullopt;
    unsigned long long value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<unsigned long>(value);
}

std::wstring SignerText(const std::string& key) {
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    for (const unsigned char byte : key) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

std::string SignerKey(const std::wstring& text) {
    auto digit = [](wchar_t c) { return c >= L'0' && c <= L'9' ? c - L'0' : c >= L'a' && c <= L'f' ? c - L'a' + 10 : -1; };
    if (text.size() % 2) return "";
    std::string key;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = digit(text[i]), low = digit(text[i + 1]);
        if (high < 0 || low < 0) return "";
        key += static_cast<char>(high << 4 | low);
    }
    return key;
}

}  // namespace vantorix::update_flow
