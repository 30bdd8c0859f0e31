// The _MiniblinkAPI interface as the type library publishes it: clients that bind early call the methods
// by their offset, so the layout must match the method table exactly.
#include <gtest/gtest.h>
#include <windows.h>
#include <oaidl.h>

#include <string>

#include "Velview_G_201.h"
#include "webview/api/engine_table.h"
#include "webview/com/module.h"

namespace {

using velview::api::Kind;
using velview::api::Result;

VARTYPE TypeOf(Kind kind) {
    switch (kind) {
        case Kind::Bool: return VT_BOOL;
        case Kind::Double: return VT_R8;
        case Kind::Js: return VT_CY;
        case Kind::Ansi:
        case Kind::Wide:
        case Kind::Escaped: return VT_BSTR;
        default: return VT_I4;
    }
}

VARTYPE TypeOf(Result result) {
    switch (result) {
        case Result::Bool: return VT_BOOL;
        case Result::Double: return VT_R8;
        case Result::Js: return VT_CY;
        case Result::Utf8:
        case Result::Utf16:
        case Result::Ansi: return VT_BSTR;
        default: return VT_I4;
    }
}

// The interface half of the dual interface (its function table as early-bound clients see it).
ITypeInfo* InterfaceInfo() {
    ITypeInfo* info = nullptr;
    if (FAILED(velview::module::TypeInfoOf(IID__MiniblinkAPI, &info))) return nullptr;
    TYPEATTR* attr = nullptr;
    info->GetTypeAttr(&attr);
    const TYPEKIND kind = attr->typekind;
    info->ReleaseTypeAttr(attr);
    if (kind == TKIND_INTERFACE) return info;
    HREFTYPE ref = 0;
    ITypeInfo* dual = nullptr;
    if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &ref))) info->GetRefTypeInfo(ref, &dual);
    info->Release();
    return dual;
}

TEST(MiniblinkApiTypeLibrary, Has210MethodsInTableOrderFromOffset28) {
    ITypeInfo* info = InterfaceInfo();
    ASSERT_NE(info, nullptr) << "the type library must describe _MiniblinkAPI";
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_EQ(attr->cFuncs, 210);
    EXPECT_EQ(attr->cbSizeVft, (7 + 210) * 4);
    const int count = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    const auto& methods = velview::api::Methods();
    ASSERT_EQ(count, static_cast<int>(methods.size()));
    for (int i = 0; i < count; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
        const auto& m = methods[i];
        BSTR name = nullptr;
        info->GetDocumentation(f->memid, &name, nullptr, nullptr, nullptr);
        EXPECT_EQ(std::wstring(name), std::wstring(m.name, m.name + strlen(m.name))) << "method " << i;
        SysFreeString(name);
        EXPECT_EQ(f->oVft, 28 + 4 * i) << m.name;
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT) << m.name;
        const bool hasResult = m.result != Result::None;
        ASSERT_EQ(f->cParams, static_cast<SHORT>(m.params.size() + (hasResult ? 1 : 0))) << m.name;
        for (std::size_t p = 0; p < m.params.size(); ++p) {
            EXPECT_EQ(f->lprgelemdescParam[p].tdesc.vt, TypeOf(m.params[p].kind)) << m.name << " parameter " << p;
            EXPECT_TRUE(f->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FIN) << m.name;
        }
        if (hasResult) {
            const ELEMDESC& out = f->lprgelemdescParam[m.params.size()];
            EXPECT_TRUE(out.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) << m.name;
            ASSERT_EQ(out.tdesc.vt, VT_PTR) << m.name;
            EXPECT_EQ(out.tdesc.lptdesc->vt, TypeOf(m.result)) << m.name;
        }
        info->ReleaseFuncDesc(f);
    }
    info->Release();
}

TEST(MiniblinkApiTypeLibrary, TheClassIsCreatableWithTheInterfaceAsDefault) {
    ITypeInfo* info = nullptr;
    ASSERT_EQ(velview::module::TypeInfoOf(CLSID_MiniblinkAPI, &info), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    info->ReleaseTypeAttr(attr);
    HREFTYPE ref = 0;
    ASSERT_EQ(info->GetRefTypeOfImplType(0, &ref), S_OK);
    ITypeInfo* itf = nullptr;
    ASSERT_EQ(info->GetRefTypeInfo(ref, &itf), S_OK);
    ASSERT_EQ(itf->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID__MiniblinkAPI));
    itf->ReleaseTypeAttr(attr);
    itf->Release();
    info->Release();
    EXPECT_TRUE(IsEqualGUID(IID__MiniblinkAPI, {0x5E112EBD, 0x9A2F, 0x4EF4, {0xB5, 0x6C, 0x95, 0xB8, 0x32, 0x89, 0x9F, 0xBD}}));
    EXPECT_TRUE(IsEqualGUID(CLSID_MiniblinkAPI, {0x78A87BCF, 0x47DB, 0x4C87, {0x82, 0x5D, 0x64, 0xC6, 0x38, 0x19, 0x4D, 0x4C}}));
}

}  // namespace
