// The manifest address override reaches only this machine.
#include "common/manifest/address_override.h"

#include <gtest/gtest.h>

using vantorix::manifest::IsLoopbackAddress;

TEST(AddressOverride, LoopbackOverHttpOrHttpsIsAccepted) {
    for (const wchar_t* url : {L"http://127.0.0.1:8080/updata.json", L"https://127.0.0.1:8443/updata.json",
                               L"HTTPS://LOCALHOST/updata.json", L"http://[::1]:9/x", L"http://127.0.0.1",
                               L"http://127.0.0.1:8080?x=1"})
        EXPECT_TRUE(IsLoopbackAddress(url)) << url;
}

TEST(AddressOverride, AnyOtherHostOrFormIsRefused) {
    for (const wchar_t* url :
         {L"https://www.example.com/updata.json", L"http://127.0.0.1@evil.example/updata.json",
          L"http://127.0.0.1.evil.example/", L"http://localhost.evil.example:80/", L"ftp://127.0.0.1/x",
          L"file://127.0.0.1/c$/x", L"http://127.0.0.1:80x/", L"http://127.0.0.1\\@evil.example/",
          L"127.0.0.1/updata.json", L"http://127.0.0.2/", L"http://[::1]evil/", L""})
        EXPECT_FALSE(IsLoopbackAddress(url)) << url;
}
