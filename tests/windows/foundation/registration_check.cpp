// Reads the control library's registration back: the type library it registered, and for each creatable
// class in it, the class key that points at the library file (or, after unregistration, no such key).
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "Velview_G_201.h"
#include "win/unique_handle.h"

namespace {

struct ComScope {
    ComScope() { CoInitialize(nullptr); }
    ~ComScope() { CoUninitialize(); }
};

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring ReadDefault(const std::wstring& key) {
    vantorix::win::unique_hkey hkey;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, hkey.put()) != ERROR_SUCCESS) return L"";
    wchar_t value[1024] = {};
    DWORD size = sizeof(value);
    if (RegQueryValueExW(hkey.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS)
        return L"";
    return value;
}

bool KeyExists(const std::wstring& key) {
    vantorix::win::unique_hkey hkey;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, hkey.put()) == ERROR_SUCCESS;
}

// The creatable classes, read from the type library embedded in the built file itself.
std::vector<CLSID> CoclassesOf(ITypeLib* lib) {
    std::vector<CLSID> result;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || kind != TKIND_COCLASS) continue;
        ITypeInfo* info = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &info))) continue;
        TYPEATTR* attr = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&attr))) {
            if (attr->wTypeFlags & TYPEFLAG_FCANCREATE) result.push_back(attr->guid);
            info->ReleaseTypeAttr(attr);
        }
        info->Release();
    }
    return result;
}

}  // namespace

TEST(Registered, TypeLibraryLoadsFromTheRegistration) {
    ComScope com;
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadRegTypeLib(LIBID_Velview_G_201, 1, 0, LOCALE_NEUTRAL, &lib), S_OK);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_Velview_G_201));
    EXPECT_EQ(attr->wMajorVerNum, 1);
    lib->ReleaseTLibAttr(attr);
    BSTR path = nullptr;
    ASSERT_EQ(QueryPathOfRegTypeLib(LIBID_Velview_G_201, 1, 0, LOCALE_NEUTRAL, &path), S_OK);
    EXPECT_NE(std::wstring(path).find(L"Velview_G_201.ocx"), std::wstring::npos) << path;
    SysFreeString(path);
    lib->Release();
}

TEST(Registered, EveryCreatableClassPointsAtTheLibraryFile) {
    ComScope com;
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadRegTypeLib(LIBID_Velview_G_201, 1, 0, LOCALE_NEUTRAL, &lib), S_OK);
    for (const CLSID& clsid : CoclassesOf(lib)) {
        const std::wstring key = L"CLSID\\" + GuidText(clsid);
        EXPECT_NE(ReadDefault(key + L"\\InprocServer32").find(L"Velview_G_201.ocx"), std::wstring::npos) << key;
        EXPECT_EQ(ReadDefault(key + L"\\TypeLib"), GuidText(LIBID_Velview_G_201)) << key;
        const std::wstring progId = ReadDefault(key + L"\\VersionIndependentProgID");
        EXPECT_EQ(progId.rfind(L"Velview_G_201.", 0), 0u) << key;
        EXPECT_EQ(ReadDefault(progId + L"\\CLSID"), GuidText(clsid)) << progId;
    }
    lib->Release();
}

TEST(Unregistered, NoClassOrTypeLibraryIsLeft) {
    ComScope com;
    ITypeLib* lib = nullptr;
    wchar_t self[MAX_PATH] = {};
    // Load the library straight from the file to learn its classes, then look for leftovers.
    const char* build = getenv("VANTORIX_WIN_BUILD");
    ASSERT_NE(build, nullptr);
    std::string unixPath = std::string("Z:") + build + "/bin/Velview_G_201.ocx";
    for (char& c : unixPath)
        if (c == '/') c = '\\';
    MultiByteToWideChar(CP_ACP, 0, unixPath.c_str(), -1, self, MAX_PATH);
    ASSERT_EQ(LoadTypeLibEx(self, REGKIND_NONE, &lib), S_OK);
    for (const CLSID& clsid : CoclassesOf(lib)) EXPECT_FALSE(KeyExists(L"CLSID\\" + GuidText(clsid)));
    lib->Release();
    ITypeLib* registered = nullptr;
    EXPECT_NE(LoadRegTypeLib(LIBID_Velview_G_201, 1, 0, LOCALE_NEUTRAL, &registered), S_OK);
    if (registered) registered->Release();
}
