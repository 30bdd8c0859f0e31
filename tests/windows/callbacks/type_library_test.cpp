// The type library that clients compile against lists the receiver exactly as its table: event and
// property names, ids, parameter names and types, and the records' layout.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "Velview_G_201.h"
#include "webview/com/module.h"
#include "webview/events/callback_kinds.h"

namespace ev = velview::events;

namespace {

struct Releaser {
    void operator()(IUnknown* p) const {
        if (p) p->Release();
    }
};

ITypeInfo* TypeInfo(REFGUID guid) {
    ITypeInfo* info = nullptr;
    EXPECT_EQ(velview::module::TypeInfoOf(guid, &info), S_OK);
    return info;
}

std::wstring Name(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr;
    info->GetDocumentation(id, &name, nullptr, nullptr, nullptr);
    std::wstring text = name ? name : L"";
    SysFreeString(name);
    return text;
}

std::wstring UserTypeName(ITypeInfo* info, const TYPEDESC& desc) {
    ITypeInfo* ref = nullptr;
    if (FAILED(info->GetRefTypeInfo(desc.hreftype, &ref))) return L"?";
    std::wstring name = Name(ref, MEMBERID_NIL);
    ref->Release();
    return name;
}

// The parameter's type as text: "long", "BSTR", "BSTR*", a record or enumeration name (with * by ref).
std::wstring TypeText(ITypeInfo* info, const TYPEDESC& desc) {
    if (desc.vt == VT_PTR) return TypeText(info, *desc.lptdesc) + L"*";
    if (desc.vt == VT_I4) return L"long";
    if (desc.vt == VT_BSTR) return L"BSTR";
    if (desc.vt == VT_USERDEFINED) return UserTypeName(info, desc);
    return L"vt" + std::to_wstring(desc.vt);
}

std::wstring ExpectedType(ev::Arg arg, const std::wstring& param) {
    switch (arg) {
        case ev::Arg::Int:
            if (param == L"navigationType") return L"wkeNavigationType";
            if (param == L"level") return L"wkeConsoleLevel";
            return L"long";
        case ev::Arg::Url:
        case ev::Arg::EngineText:
        case ev::Arg::PlatformText: return L"BSTR";
        case ev::Arg::PromptResult: return L"BSTR*";
        case ev::Arg::MemBuf: return L"wkeMemBuf*";
        case ev::Arg::Rect: return L"wkeRect*";
        case ev::Arg::WindowFeatures: return L"wkeWindowFeatures*";
        case ev::Arg::MediaLoadInfo: return L"wkeMediaLoadInfo*";
    }
    return L"";
}

// memid -> function description index, for the functions of one kind of invocation.
std::map<MEMBERID, UINT> Functions(ITypeInfo* info, INVOKEKIND kind) {
    std::map<MEMBERID, UINT> result;
    TYPEATTR* attr = nullptr;
    info->GetTypeAttr(&attr);
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        info->GetFuncDesc(i, &f);
        if (f->invkind == kind) result[f->memid] = i;
        info->ReleaseFuncDesc(f);
    }
    info->ReleaseTypeAttr(attr);
    return result;
}

}  // namespace

TEST(ReceiverTypeLibrary, EventsMatchTheCallbackTable) {
    ITypeInfo* events = TypeInfo(DIID___MiniblinkCallBack);
    ASSERT_NE(events, nullptr);
    auto functions = Functions(events, INVOKE_FUNC);
    EXPECT_EQ(functions.size(), static_cast<std::size_t>(ev::kKindCount));
    for (int slot = 0; slot < ev::kKindCount; ++slot) {
        const ev::CallbackKind& kind = ev::kCallbackKinds[static_cast<std::size_t>(slot)];
        SCOPED_TRACE(testing::Message() << "slot " << slot);
        ASSERT_EQ(functions.count(ev::EventIdOf(slot)), 1u);
        FUNCDESC* f = nullptr;
        events->GetFuncDesc(functions[ev::EventIdOf(slot)], &f);
        BSTR names[8] = {};
        UINT count = 0;
        events->GetNames(f->memid, names, 8, &count);
        EXPECT_EQ(std::wstring(names[0]), kind.name);
        ASSERT_EQ(f->cParams, kind.argCount);
        for (int p = 0; p < f->cParams; ++p) {
            EXPECT_EQ(std::wstring(names[p + 1]), kind.paramNames[static_cast<std::size_t>(p)]);
            EXPECT_EQ(TypeText(events, f->lprgelemdescParam[p].tdesc),
                      ExpectedType(kind.args[static_cast<std::size_t>(p)], names[p + 1]))
                << "parameter " << p;
        }
        for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
        events->ReleaseFuncDesc(f);
    }
    events->Release();
}

TEST(ReceiverTypeLibrary, PropertiesCarryTheGivenIds) {
    ITypeInfo* info = TypeInfo(IID__MiniblinkCallBack);
    ASSERT_NE(info, nullptr);
    ITypeInfo* dispatch = nullptr;  // the dispatch view of the dual interface
    HREFTYPE ref = 0;
    ASSERT_EQ(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
    ASSERT_EQ(info->GetRefTypeInfo(ref, &dispatch), S_OK);
    auto getters = Functions(dispatch, INVOKE_PROPERTYGET);
    auto putters = Functions(dispatch, INVOKE_PROPERTYPUT);
    EXPECT_EQ(getters.size(), 37u);
    EXPECT_EQ(putters.size(), 37u) << "every property can be written";
    for (int slot = 0; slot < ev::kKindCount; ++slot) {
        const ev::CallbackKind& kind = ev::kCallbackKinds[static_cast<std::size_t>(slot)];
        EXPECT_EQ(Name(dispatch, ev::StubIdOf(slot)), kind.name) << "stub property of slot " << slot;
        if (kind.result != ev::Result::None) {
            EXPECT_EQ(Name(dispatch, kind.returnId), std::wstring(L"Return_") + kind.name);
            FUNCDESC* f = nullptr;
            dispatch->GetFuncDesc(getters[kind.returnId], &f);
            const VARTYPE expected = kind.result == ev::Result::Bool ? VT_BOOL
                                     : kind.result == ev::Result::ViewHandle ? VT_I4 : VT_CY;
            // The value's type: the result, or the retval parameter where the dispatch view keeps HRESULT.
            const TYPEDESC& result = f->elemdescFunc.tdesc.vt == VT_HRESULT && f->cParams > 0
                                         ? *f->lprgelemdescParam[f->cParams - 1].tdesc.lptdesc
                                         : f->elemdescFunc.tdesc;
            EXPECT_EQ(result.vt, expected) << "Return_ of slot " << slot;
            dispatch->ReleaseFuncDesc(f);
        }
    }
    EXPECT_EQ(ev::StubIdOf(26), 0x4003000b);
    EXPECT_EQ(ev::StubIdOf(0), 0x40030025);
    dispatch->Release();
    info->Release();
}

TEST(ReceiverTypeLibrary, RecordsHaveTheReceiversLayout) {
    ITypeLib* lib = velview::module::TypeLib();
    ASSERT_NE(lib, nullptr);
    const struct {
        const wchar_t* name;
        ULONG size;
        int fields;
        ULONG lastOffset;
    } records[] = {{L"wkeMemBuf", 12, 3, 8}, {L"wkeRect", 16, 4, 12}, {L"wkeWindowFeatures", 32, 11, 28},
                   {L"wkeMediaLoadInfo", 20, 4, 12}};
    for (const auto& r : records) {
        SCOPED_TRACE(testing::Message() << "record " << r.name);
        ITypeInfo* info = nullptr;
        MEMBERID id = 0;
        USHORT found = 1;
        std::wstring name = r.name;
        ASSERT_EQ(lib->FindName(&name[0], 0, &info, &id, &found), S_OK);
        ASSERT_EQ(found, 1);
        TYPEATTR* attr = nullptr;
        info->GetTypeAttr(&attr);
        EXPECT_EQ(attr->typekind, TKIND_RECORD);
        EXPECT_EQ(attr->cbSizeInstance, r.size);
        EXPECT_EQ(attr->cVars, r.fields);
        VARDESC* last = nullptr;
        info->GetVarDesc(static_cast<UINT>(r.fields - 1), &last);
        EXPECT_EQ(last->oInst, r.lastOffset);
        info->ReleaseVarDesc(last);
        info->ReleaseTypeAttr(attr);
        info->Release();
    }
}

TEST(ReceiverTypeLibrary, EnumerationsHaveTheirValues) {
    ITypeLib* lib = velview::module::TypeLib();
    ASSERT_NE(lib, nullptr);
    const std::map<std::wstring, long> expected = {
        {L"WKE_NAVIGATION_TYPE_LINKCLICK", 0}, {L"WKE_NAVIGATION_TYPE_FORMSUBMITTE", 1},
        {L"WKE_NAVIGATION_TYPE_BACKFORWARD", 2}, {L"WKE_NAVIGATION_TYPE_RELOAD", 3},
        {L"WKE_NAVIGATION_TYPE_FORMRESUBMITT", 4}, {L"WKE_NAVIGATION_TYPE_OTHER", 5},
        {L"wkeLevelDebug", 4}, {L"wkeLevelLog", 1}, {L"wkeLevelInfo", 5}, {L"wkeLevelWarning", 2},
        {L"wkeLevelError", 3}, {L"wkeLevelRevokedError", 6}, {L"wkeLevelLast", 5}};
    std::map<std::wstring, long> seen;
    for (const wchar_t* type : {L"wkeNavigationType", L"wkeConsoleLevel"}) {
        ITypeInfo* info = nullptr;
        MEMBERID id = 0;
        USHORT found = 1;
        std::wstring name = type;
        ASSERT_EQ(lib->FindName(&name[0], 0, &info, &id, &found), S_OK);
        TYPEATTR* attr = nullptr;
        info->GetTypeAttr(&attr);
        EXPECT_EQ(attr->typekind, TKIND_ENUM);
        for (UINT i = 0; i < attr->cVars; ++i) {
            VARDESC* v = nullptr;
            info->GetVarDesc(i, &v);
            seen[Name(info, v->memid)] = v->lpvarValue->lVal;
            info->ReleaseVarDesc(v);
        }
        info->ReleaseTypeAttr(attr);
        info->Release();
    }
    EXPECT_EQ(seen, expected);
}

TEST(ReceiverTypeLibrary, BothClassesAreCreatableWithTheirIdentities) {
    ITypeInfo* receiver = TypeInfo(CLSID_MiniblinkCallBack);
    ASSERT_NE(receiver, nullptr);
    TYPEATTR* attr = nullptr;
    receiver->GetTypeAttr(&attr);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_EQ(attr->cImplTypes, 2);
    receiver->ReleaseTypeAttr(attr);
    receiver->Release();
    ITypeInfo* types = TypeInfo(CLSID_MiniblinkTypeEnum);
    ASSERT_NE(types, nullptr);
    types->Release();
    const velview::ClassInfo* info = velview::module::FindClass(CLSID_MiniblinkCallBack);
    ASSERT_NE(info, nullptr) << "the receiver is in the library's class table";
    EXPECT_STREQ(info->progId, L"Velview_G_201.MiniblinkCallBack");
    EXPECT_NE(velview::module::FindClass(CLSID_MiniblinkTypeEnum), nullptr);
}
