#include "launcher/services/network_policy.h"

#include <map>
#include <mutex>

namespace vantorix::services {
namespace {

using win::unique_winhttp_string;

// Finding a WPAD server or fetching a configuration script must not hold the launcher for long.
constexpr int kProxyDiscoveryTimeoutMs = 5000;
constexpr wchar_t kAgent[] = L"VantorixAssist";

struct ProxyChoice {
    DWORD access = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
    std::wstring proxy, bypass;  // with WINHTTP_ACCESS_TYPE_NAMED_PROXY
};

ProxyChoice Named(LPCWSTR proxy, LPCWSTR bypass) {
    return {WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy, bypass ? bypass : L""};
}

// What the automatic configuration chooses for url, when it finds a configuration at all.
std::optional<ProxyChoice> AutomaticProxyFor(const std::wstring& url, bool detect, LPCWSTR script) {
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = (script ? WINHTTP_AUTOPROXY_CONFIG_URL : 0) | (detect ? WINHTTP_AUTOPROXY_AUTO_DETECT : 0);
    options.dwAutoDetectFlags = detect ? WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A : 0;
    options.lpszAutoConfigUrl = script;
    options.fAutoLogonIfChallenged = TRUE;
    // A synchronous session of its own: the script is fetched without a proxy, as the system does.
    win::unique_hinternet resolver(
        ::WinHttpOpen(kAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!resolver) return std::nullopt;
    ::WinHttpSetTimeouts(resolver.get(), kProxyDiscoveryTimeoutMs, kProxyDiscoveryTimeoutMs, kProxyDiscoveryTimeoutMs,
                         kProxyDiscoveryTimeoutMs);
    WINHTTP_PROXY_INFO chosen{};
    if (!::WinHttpGetProxyForUrl(resolver.get(), url.c_str(), &options, &chosen)) return std::nullopt;
    unique_winhttp_string proxy(chosen.lpszProxy), bypass(chosen.lpszProxyBypass);
    // "DIRECT" from the script: no proxy, whatever the manual setting says.
    if (chosen.dwAccessType == WINHTTP_ACCESS_TYPE_NO_PROXY || !proxy || !*proxy.get())
        return ProxyChoice{WINHTTP_ACCESS_TYPE_NO_PROXY, {}, {}};
    return Named(proxy.get(), bypass.get());
}

ProxyChoice ChooseProxy(const std::wstring& url) {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user{};
    if (!::WinHttpGetIEProxyConfigForCurrentUser(&user)) return {};
    unique_winhttp_string script(user.lpszAutoConfigUrl), proxy(user.lpszProxy), bypass(user.lpszProxyBypass);
    if (user.fAutoDetect || script) {
        if (auto automatic = AutomaticProxyFor(url, user.fAutoDetect, script.get())) return *automatic;
        // The automatic configuration found nothing: the user's manual proxy, if any, still applies.
    }
    if (proxy && *proxy.get()) return Named(proxy.get(), bypass.get());
    return {};
}

// WPAD discovery can take seconds where there is nothing to find: each address is resolved once a run.
ProxyChoice CachedProxyFor(const std::wstring& url) {
    static std::mutex lock;
    static std::map<std::wstring, ProxyChoice> chosen;
    std::lock_guard<std::mutex> hold(lock);
    auto found = chosen.find(url);
    if (found == chosen.end()) found = chosen.emplace(url, ChooseProxy(url)).first;
    return found->second;
}

void EnableModernTls(HINTERNET session) {
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (::WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) return;
    protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;  // a system that does not know TLS 1.3 refuses its bit
    ::WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
}

}  // namespace

win::unique_hinternet OpenSession(const std::wstring& url, DWORD flags) {
    const ProxyChoice proxy = CachedProxyFor(url);
    const bool named = proxy.access == WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    win::unique_hinternet session(::WinHttpOpen(
        kAgent, proxy.access, named ? proxy.proxy.c_str() : WINHTTP_NO_PROXY_NAME,
        named && !proxy.bypass.empty() ? proxy.bypass.c_str() : WINHTTP_NO_PROXY_BYPASS, flags));
    if (session) EnableModernTls(session.get());
    return session;
}

void EnableRevocationCheck(HINTERNET request) {
    DWORD feature = WINHTTP_ENABLE_SSL_REVOCATION;
    ::WinHttpSetOption(request, WINHTTP_OPTION_ENABLE_FEATURE, &feature, sizeof feature);
}

bool MayRetryWithoutRevocation(DWORD error, DWORD secure_failure_flags) {
    switch (error) {
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
        return true;
    case ERROR_WINHTTP_SECURE_FAILURE:
        return secure_failure_flags == WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED;
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
        return secure_failure_flags == 0;
    default:
        return false;
    }
}

}  // namespace vantorix::services
