// MiniblinkAPI as the built control library hands it out: from Velview_G_201.ocx's class factory, with
// the type library embedded in the .ocx, calling the engine next to it.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include "Velview_G_201.h"

namespace {

TEST(ControlLibrary, ClassFactoryMakesAMiniblinkAPIThatReachesTheEngine) {
    HMODULE ocx = LoadLibraryW(L"Velview_G_201.ocx");
    ASSERT_NE(ocx, nullptr) << GetLastError();
    using GetClassObject = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
    const auto getClassObject = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(ocx, "DllGetClassObject")));
    ASSERT_NE(getClassObject, nullptr);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(CLSID_MiniblinkAPI, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    _MiniblinkAPI* api = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID__MiniblinkAPI, reinterpret_cast<void**>(&api)), S_OK);
    factory->Release();

    // Early bound, through the function table.
    BSTR text = SysAllocString(L"\u4E2D ocx");
    long string = 0;
    ASSERT_EQ(api->wkeCreateStringW(text, 5, &string), S_OK);
    EXPECT_NE(string, 0);
    BSTR back = nullptr;
    ASSERT_EQ(api->wkeGetStringW(string, &back), S_OK);
    EXPECT_STREQ(back, L"\u4E2D ocx");
    SysFreeString(back);
    SysFreeString(text);

    // Late bound, answered from the .ocx's own type library.
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(L"jsArgCount");
    ASSERT_EQ(api->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    ITypeInfo* info = nullptr;
    ASSERT_EQ(api->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK);
    info->Release();
    EXPECT_EQ(api->Release(), 0u);

    using CanUnloadNow = HRESULT(__stdcall*)();
    const auto canUnload = reinterpret_cast<CanUnloadNow>(
        reinterpret_cast<void*>(GetProcAddress(ocx, "DllCanUnloadNow")));
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_OK) << "the last object is gone";
}

}  // namespace
