// Late binding and events: the IDispatch side of MiniblinkAPI (as scripts and hosts use it) and the
// connection-point helper other classes of the library raise their events with.
#include <gtest/gtest.h>
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "webview/api/miniblink_api.h"
#include "webview/com/dispatch.h"

namespace {

DISPID IdOf(IDispatch* d, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << name;
    return id;
}

TEST(MiniblinkApiDispatch, ScriptsCallMethodsByName) {
    _MiniblinkAPI* api = nullptr;
    ASSERT_EQ(velview::api::CreateMiniblinkAPI(&api), S_OK);
    // wkeCreateStringW("late", 4) then wkeGetStringW(handle), both through IDispatch::Invoke.
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[1].vt = VT_BSTR;  // arguments are listed last to first
    args[1].bstrVal = SysAllocString(L"late \u00E9");
    args[0].vt = VT_I4;
    args[0].lVal = 6;
    DISPPARAMS params{args, nullptr, 2, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(api->Invoke(IdOf(api, L"wkeCreateStringW"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                          &result, nullptr, nullptr),
              S_OK);
    ASSERT_EQ(result.vt, VT_I4);
    ASSERT_NE(result.lVal, 0);
    VARIANT handle = result;
    DISPPARAMS one{&handle, nullptr, 1, 0};
    VariantInit(&result);
    ASSERT_EQ(api->Invoke(IdOf(api, L"wkeGetStringW"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &one, &result,
                          nullptr, nullptr),
              S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_STREQ(result.bstrVal, L"late \u00E9");
    VariantClear(&result);
    VariantClear(&args[1]);
    UINT count = 0;
    EXPECT_EQ(api->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(api->Release(), 0u);
}

// A sink that records what it is told and answers through a by-reference argument.
class RecordingSink final : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override {
        ids.push_back(id);
        // rgvarg is last to first: the first event argument is the last element.
        firstArgs.push_back(p->cArgs ? p->rgvarg[p->cArgs - 1].lVal : -1);
        if (p->cArgs == 2 && p->rgvarg[0].vt == (VT_I4 | VT_BYREF)) *p->rgvarg[0].plVal = answer;
        return S_OK;
    }
    ULONG refs = 1;
    long answer = 0;
    std::vector<DISPID> ids;
    std::vector<long> firstArgs;
};

// An owner object for the event source: its identity is a plain IUnknown.
class Owner final : public IUnknown {
public:
    Owner() : events(this, thread, CLSID_MiniblinkAPI, IID_IPropertyNotifySink) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = IsEqualIID(iid, IID_IUnknown) ? static_cast<IUnknown*>(this) : events.Query(iid);
        if (!*out) return E_NOINTERFACE;
        static_cast<IUnknown*>(*out)->AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    ULONG refs = 1;
    velview::OwnerThread thread{L"Owner"};
    velview::EventSource events;
};

TEST(EventSource, FiresToEveryAdvisedSinkInOrderAndLetsHandlersAnswerByReference) {
    Owner owner;
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(owner.QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    IConnectionPoint* point = nullptr;
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, &point), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(container->FindConnectionPoint(IID_IPropertyNotifySink, &point), S_OK);
    RecordingSink a, b;
    b.answer = 99;
    DWORD cookieA = 0, cookieB = 0;
    ASSERT_EQ(point->Advise(&a, &cookieA), S_OK);
    ASSERT_EQ(point->Advise(&b, &cookieB), S_OK);
    EXPECT_NE(cookieA, cookieB);
    EXPECT_TRUE(owner.events.HasSinks());

    long answer = 0;
    VARIANT args[2];
    args[0].vt = VT_I4;
    args[0].lVal = 7;
    args[1].vt = VT_I4 | VT_BYREF;
    args[1].plVal = &answer;
    EXPECT_EQ(owner.events.Fire(12, args, 2), S_OK);
    EXPECT_EQ(a.ids, std::vector<DISPID>{12});
    EXPECT_EQ(b.ids, std::vector<DISPID>{12});
    EXPECT_EQ(a.firstArgs, std::vector<long>{7});
    EXPECT_EQ(answer, 99) << "the last sink's answer reaches the caller";

    EXPECT_EQ(point->Unadvise(cookieA), S_OK);
    EXPECT_EQ(point->Unadvise(cookieA), CONNECT_E_NOCONNECTION);
    owner.events.Fire(13, args, 2);
    EXPECT_EQ(a.ids.size(), 1u);
    EXPECT_EQ(b.ids.size(), 2u);
    EXPECT_EQ(point->Unadvise(cookieB), S_OK);
    EXPECT_FALSE(owner.events.HasSinks());
    EXPECT_EQ(a.refs, 1u);
    EXPECT_EQ(b.refs, 1u);

    IProvideClassInfo2* classInfo = nullptr;
    ASSERT_EQ(owner.QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&classInfo)), S_OK);
    GUID events{};
    EXPECT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events), S_OK);
    EXPECT_TRUE(IsEqualGUID(events, IID_IPropertyNotifySink));
    classInfo->Release();
    point->Release();
    container->Release();
    EXPECT_EQ(owner.refs, 1u);
}

}  // namespace
