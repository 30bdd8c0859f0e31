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
    EXPECT_EQ(GetFileVersionText(SpecialPath(0)), L"0");
    EXPECT_EQ(GetFileVersionText(L"C:\\no\\such\\client.exe"), L"");
    EXPECT_EQ(GetFileVersionText(L""), L"");
    EXPECT_EQ(GetFileVersionText(SpecialPath(279)), L"");  // a folder is not a file
    // A system DLL: four decimal parts.
    std::wstring kernel = GetFileVersionText(SpecialPath(279) + L"\\system32\\kernel32.dll");
    EXPECT_EQ(std::count(kernel.begin(), kernel.end(), L'.'), 3) << kernel;
}

TEST(SpecialFolders, CodesGiveProgramFoldersAndEnvironment) {
    wchar_t module[MAX_PATH], current[MAX_PATH], windows[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    GetCurrentDirectoryW(MAX_PATH, current);
    GetWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_EQ(SpecialPath(0), module);
    EXPECT_EQ(SpecialPath(1), current);
    EXPECT_EQ(_wcsicmp(SpecialPath(279).c_str(), windows), 0) << SpecialPath(279);
    EXPECT_EQ(SpecialPath(280), Env(L"TEMP"));
    EXPECT_EQ(_wcsicmp(SpecialPath(0x24 /* CSIDL_WINDOWS */).c_str(), windows), 0);
    EXPECT_FALSE(SpecialPath(5 /* CSIDL_PERSONAL */).empty());
    EXPECT_EQ(SpecialPath(128 + 7 /* MyDocuments */), SpecialPath(5));
    SetEnvironmentVariableW(L"FP_NO_HOST_CHECK", nullptr);
    EXPECT_EQ(SpecialPath(288), L"%FP_NO_HOST_CHECK%");
    SetEnvironmentVariableW(L"FP_NO_HOST_CHECK", L"NO");
    EXPECT_EQ(SpecialPath(288), L"NO");
    for (int code : {-1, 289, 100000, 128 + 16}) EXPECT_EQ(SpecialPath(code), L"") << code;
}

TEST(SpecialFolders, TemporaryNamesAreFreshAndLeaveNoFile) {
    std::wstring a = SpecialPath(2), b = SpecialPath(2);
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    std::wstring temp = SpecialPath(280);
    for (const std::wstring& name : {a, b}) {
        EXPECT_EQ(FolderPart(name), temp + L"\\") << name;
        EXPECT_EQ(FileNamePart(name).substr(0, 3), L"LZT") << name;
        EXPECT_FALSE(FileExists(name)) << name;
    }
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
        auto m = FetchManifest(Base() + path, ShortLimits());
        ASSERT_TRUE(m);
        EXPECT_EQ(m->version, L"1.0.0.2");
        EXPECT_EQ(m->new_title, L"Vantorix 新版");
        EXPECT_EQ(m->uptext, L"修复问题\r\n提升速度");
        EXPECT_EQ(m->force_mod, L"1");
        EXPECT_EQ(MandatoryShownText(*m), L"是");
        EXPECT_TRUE(IsMandatory(*m));
        EXPECT_TRUE(IsNewVersion(*m, L"1.0.0.1"));
        EXPECT_FALSE(IsNewVersion(*m, L"1.0.0.2"));
    }
}

TEST_P(ManifestServer, EveryFailureEndsAsNoManifestWithinTheTimeOut) {
    const FetchLimits limits = ShortLimits();
    // The bound: the whole fetch limit plus one read time-out, plus slack for a slow machine.
    const ULONGLONG bound = limits.total_timeout_ms + limits.receive_timeout_ms + 5000;
    const std::wstring refused = GetParam() + std::wstring(L"://127.0.0.1:") + Env(L"VX_REFUSED_PORT") + L"/updata.json";
    struct Case { std::wstring url; } cases[] = {
        {Base() + L"/404"},        {Base() + L"/500"},          {Base() + L"/html"},
        {Base() + L"/stall-head"}, {Base() + L"/stall-body"},   {Base() + L"/trickle"},
        {Base() + L"/huge-declared"}, {Base() + L"/huge-chunked"}, {refused},
        {L"ftp://127.0.0.1/updata.json"}, {L"not a url"}, {L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf8(c.url));
        ULONGLONG start = GetTickCount64();
        EXPECT_FALSE(FetchManifest(c.url, limits));
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
