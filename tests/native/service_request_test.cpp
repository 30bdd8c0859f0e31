// The maintenance service's request and result forms: what the launcher passes, what the service accepts
// and where its result lies.
#include <gtest/gtest.h>

#include "common/update_flow/install_step.h"
#include "common/update_flow/service_request.h"

namespace uf = vantorix::update_flow;

namespace {

const std::wstring kNonce = L"0123456789abcdef0123456789abcdef";

}  // namespace

TEST(ServiceRequest, OnlyThirtyTwoLowerHexDigitsAreANonce) {
    EXPECT_TRUE(uf::IsNonce(kNonce));
    for (const std::wstring& bad : {std::wstring(), kNonce.substr(1), kNonce + L"0", std::wstring(L"0123456789ABCDEF0123456789abcdef"),
                                    std::wstring(L"..\\..\\..\\windows\\system32\\x.dll0"), std::wstring(L"0123456789abcdef0123456789abcde\\"),
                                    std::wstring(L"0123456789abcdef0123456789abcdeg")})
        EXPECT_FALSE(uf::IsNonce(bad)) << bad.size();
}

TEST(ServiceRequest, TheStepsArgumentsTravelBehindTheNonceAndComeBackAsTheyWere) {
    const std::vector<std::wstring> step = {L"-install-update", L"C:\\Users\\u\\AppData\\Local\\V\\a b.zip",
                                            L"C:\\Users\\u\\m.json", L"-delta"};
    const auto start = uf::ServiceStartArguments(kNonce, step);
    ASSERT_EQ(start.size(), 5u);
    EXPECT_EQ(start[0], kNonce);
    // The service manager puts the service's name in front.
    std::vector<std::wstring> received = {L"VantorixAssistUpdate"};
    received.insert(received.end(), start.begin(), start.end());
    const auto request = uf::ParseServiceRequest(received);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->nonce, kNonce);
    EXPECT_EQ(request->step_arguments, step);
}

TEST(ServiceRequest, ARequestWithoutNonceOrInstallIsNoRequest) {
    const std::vector<std::vector<std::wstring>> refused = {
        {},
        {L"VantorixAssistUpdate"},
        {L"VantorixAssistUpdate", kNonce},
        {L"VantorixAssistUpdate", L"-install-update", L"C:\\a.zip", L"C:\\m.json"},           // no nonce
        {L"VantorixAssistUpdate", L"not-a-nonce", L"-install-update", L"C:\\a.zip", L"C:\\m.json"},
        {L"VantorixAssistUpdate", kNonce, L"-register"},                                       // only installs
        {L"VantorixAssistUpdate", kNonce, L"-INSTALL-UPDATE", L"C:\\a.zip", L"C:\\m.json"},
    };
    for (const auto& arguments : refused) EXPECT_FALSE(uf::ParseServiceRequest(arguments)) << arguments.size();
}

TEST(ServiceRequest, TheResultLiesInTheInstallationsResultsFolderUnderTheNonce) {
    EXPECT_EQ(uf::ServiceResultsFolderOf(L"C:\\Program Files\\VantorixAssist"),
              L"C:\\Program Files\\VantorixAssist\\update\\results");
    EXPECT_EQ(uf::ServiceResultPathOf(L"C:\\App", kNonce), L"C:\\App\\update\\results\\" + kNonce + L".result");
}

TEST(ServiceRequest, AResultIsReadBackOnlyInItsOwnForm) {
    for (const unsigned long code : {0ul, 2ul, 11ul, 17ul, 4294967295ul}) {
        const auto back = uf::ParseServiceResult(uf::ServiceResultText(code));
        ASSERT_TRUE(back) << code;
        EXPECT_EQ(*back, code);
    }
    EXPECT_EQ(uf::ServiceResultText(0), "exit=0\n");
    for (const std::string bad : {"", "exit=\n", "exit=0", "0\n", "exit=-1\n", "exit=1x\n", "exit= 1\n",
                                  "exit=4294967296\n", "exit=00000000001\n", "Exit=0\n", "exit=0\nexit=1\n"})
        EXPECT_FALSE(uf::ParseServiceResult(bad)) << bad;
}

TEST(ServiceRequest, AServiceRefusalIsShownAsAFailedStepWithItsCode) {
    const uf::UnpackResult result = uf::OutcomeOfInstallStep(static_cast<unsigned long>(uf::StepExit::ServiceRefused));
    EXPECT_EQ(result.outcome, uf::UnpackOutcome::WriteFailed);
    EXPECT_EQ(result.reason, L"安装步骤失败，代码 17");
}

TEST(ServiceRequest, TheSignerGoesIntoTheRegistryAsHexAndComesBackOnlyFromIt) {
    const std::string key("\x30\x82\x01\x0a\x02\x82\x01\x01\x00\xff", 10);
    EXPECT_EQ(uf::SignerText(key), L"3082010a0282010100ff");
    EXPECT_EQ(uf::SignerKey(uf::SignerText(key)), key);
    for (const wchar_t* text : {L"3082010a028", L"3082010A", L"30 82", L"zz"}) EXPECT_EQ(uf::SignerKey(text), "") << text;
}
