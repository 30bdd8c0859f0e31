// The launcher's services on the real Win32 and WinHTTP calls: versions, folders, text decoding, and the
// manifest fetched from local HTTP and HTTPS servers (ports and files come from run_services_tests.sh).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "launcher/services/network_policy.h"
#include "launcher/services/services.h"
#include "launcher/services/wide_text.h"

namespace vantorix::services {
namespace {

std::wstring Env(const wchar_t* name) {
    wchar_t buffer[4096];
    DWORD n = GetEnvironmentVariableW(name, buffer, 4096);
    return n > 0 && n < 4096 ? std::wstring(buffer, n) : std::wstring();
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(FileVersion, BuiltBinaryMissingFileAndFileWithoutVersion) {
    const std::wstring versioned = Env(L"VX_VERSIONED_EXE");
    ASSERT_FALSE(versioned.empty()) << "run through run_services_tests.sh";
    ASSERT_TRUE(FileExists(versioned));
    EXPECT_EQ(GetFileVersionText(versioned), Env(L"VX_EXPECTED_VERSION"));
    // This test program carries no version resource.
    wchar_t own[MAX_PATH] = {}, windows[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    GetWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_EQ(GetFileVersionText(own), L"0");
    EXPECT_EQ(GetFileVersionText(L"C:\\no\\such\\client.exe"), L"");
    EXPECT_EQ(GetFileVersionText(L""), L"");
    EXPECT_EQ(GetFileVersionText(windows), L"");  // a folder is not a file
    // A system DLL: four decimal parts.
    std::wstring kernel = GetFileVersionText(std::wstring(windows) + L"\\system32\\kernel32.dll");
    EXPECT_EQ(std::count(kernel.begin(), kernel.end(), L'.'), 3) << kernel;
}

TEST(Wow64, MatchesTheMachine) {
    SYSTEM_INFO native{};
    GetNativeSystemInfo(&native);
    EXPECT_EQ(IsWow64(), native.wProcessorArchitecture != PROCESSOR_ARCHITECTURE_INTEL);
}

TEST(BytesToText, DecodesTheNamedCharacterSet) {
    auto bytes = [](std::string s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    struct Case { std::string in; const wchar_t* charset; std::wstring out; } cases[] = {
        {"\xE4\xB8\xAD\xE6\x96\x87", L"utf-8", L"中文"},
        {"\xE4\xB8\xAD", L"UTF-8", L"中"},
        {"\xEF\xBB\xBF{}", L"utf-8", L"{}"},
        {"a\xFF" "b", L"utf-8", L"a\xFFFD" L"b"},
        {"\xF0\x9F\x98\x80", L"utf-8", L"\xD83D\xDE00"},
        {"\xD6\xD0\xCE\xC4", L"gbk", L"中文"},
        {std::string("\xFF\xFE\x2D\x4E", 4), L"unicode", L"中"},
        {"", L"utf-8", L""},
        {"abc", L"no-such-charset", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(BytesToText(bytes(c.in), c.charset), c.out);
    }
}

// ---- against the local servers ---------------------------------------------------------------------

FetchLimits ShortLimits() {
    FetchLimits l;
    l.resolve_timeout_ms = l.connect_timeout_ms = l.send_timeout_ms = 3000;
    l.receive_timeout_ms = 2000;
    l.total_timeout_ms = 5000;
    l.max_body_bytes = 1 << 20;
    return l;
}

std::wstring ManifestFileText() {
    std::ifstream in(Utf8(Env(L"VX_MANIFEST_FILE")), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return Wide(bytes);
}

class ManifestServer : public ::testing::TestWithParam<const wchar_t*> {
protected:
    // http://127.0.0.1:port or https://127.0.0.1:port, by the parameter.
    std::wstring Base() {
        std::wstring scheme = GetParam();
        std::wstring port = Env(scheme == L"https" ? L"VX_HTTPS_PORT" : L"VX_HTTP_PORT");
        if (port.empty()) ADD_FAILURE() << "no server port for " << Utf8(scheme);
        return scheme + L"://127.0.0.1:" + port;
    }
};

TEST_P(ManifestServer, RequestCarriesIfModifiedSinceZero) {
    EXPECT_EQ(GetUrlText(Base() + L"/echo-ims", L"utf-8", ShortLimits()), L"0");
}

TEST_P(ManifestServer, Utf8ManifestIsReadWhole) {
    const std::wstring expected = ManifestFileText();
    ASSERT_FALSE(expected.empty());
    for (const wchar_t* path : {L"/updata.json", L"/bom.json", L"/redirect"}) {
        SCOPED_TRACE(Utf8(path));
        EXPECT_EQ(GetUrlText(Base() + path, L"utf-8", ShortLimits()), expected);
    }
}

TEST_P(ManifestServer, EveryFailedFetchEndsAsNothingWithinTheTimeOut) {
    const FetchLimits limits = ShortLimits();
    // The bound: the whole fetch limit plus one read time-out, plus slack for a slow machine.
    const ULONGLONG bound = limits.total_timeout_ms + limits.receive_timeout_ms + 5000;
    const std::wstring refused = GetParam() + std::wstring(L"://127.0.0.1:") + Env(L"VX_REFUSED_PORT") + L"/updata.json";
    struct Case { std::wstring url; } cases[] = {
        {Base() + L"/404"},        {Base() + L"/500"},
        {Base() + L"/stall-head"}, {Base() + L"/stall-body"},   {Base() + L"/trickle"},
        {Base() + L"/huge-declared"}, {Base() + L"/huge-chunked"}, {refused},
        {L"ftp://127.0.0.1/updata.json"}, {L"not a url"}, {L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf8(c.url));
        ULONGLONG start = GetTickCount64();
        EXPECT_FALSE(GetUrlBytes(c.url, limits));
        EXPECT_LT(GetTickCount64() - start, bound);
    }
    EXPECT_EQ(GetUrlText(Base() + L"/404", L"utf-8", limits), L"");
}

INSTANTIATE_TEST_SUITE_P(Schemes, ManifestServer, ::testing::Values(L"http", L"https"),
                         [](const auto& info) { return Utf8(info.param); });

TEST(ManifestHttps, CertificateNotFromATrustedRootIsRefused) {
    std::wstring port = Env(L"VX_UNTRUSTED_PORT");
    ASSERT_FALSE(port.empty());
    EXPECT_FALSE(GetUrlBytes(L"https://127.0.0.1:" + port + L"/updata.json", ShortLimits()));
}

TEST(ManifestHttps, CertificateForAnotherHostIsRefused) {
    // Signed by the trusted test root, but issued to other.example.
    std::wstring port = Env(L"VX_WRONGNAME_PORT");
    ASSERT_FALSE(port.empty());
    EXPECT_FALSE(GetUrlBytes(L"https://127.0.0.1:" + port + L"/updata.json", ShortLimits()));
}

// Only revocation is ever given up, and only when it could not be checked; every https fetch above passes
// through the unexplained case, since Wine's WinHTTP reports no reason for a failed revocation check.
TEST(Revocation, OnlyAnUncheckableRevocationIsRetriedWithoutTheCheck) {
    EXPECT_TRUE(MayRetryWithoutRevocation(ERROR_WINHTTP_SECURE_CERT_REV_FAILED, 0));
    EXPECT_TRUE(MayRetryWithoutRevocation(ERROR_WINHTTP_SECURE_FAILURE, WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED));
    EXPECT_TRUE(MayRetryWithoutRevocation(ERROR_WINHTTP_SECURE_CHANNEL_ERROR, 0));
    EXPECT_FALSE(MayRetryWithoutRevocation(ERROR_WINHTTP_SECURE_CERT_REVOKED, 0));
    EXPECT_FALSE(MayRetryWithoutRevocation(ERROR_WINHTTP_SECURE_FAILURE, WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED));
    EXPECT_FALSE(MayRetryWithoutRevocation(ERROR_WINHTTP_SECURE_FAILURE, WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED |
                                                                          WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA));
    EXPECT_FALSE(MayRetryWithoutRevocation(ERROR_WINHTTP_SECURE_CHANNEL_ERROR, WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED));
    EXPECT_FALSE(MayRetryWithoutRevocation(ERROR_WINHTTP_TIMEOUT, 0));
}

}  // namespace
}  // namespace vantorix::services
