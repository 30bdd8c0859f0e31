// A client in plain C++ against the type library, as the client program is: it obtains MiniblinkAPI and
// MiniblinkCallBack from the built control library's class factory (no registration needed), wires the
// receiver's stubs to a view through MiniblinkAPI and handles the events through the connection point.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Velview_G_201.h"
#include "early_bound.h"
#include "engine_fixture.h"
#include "thread_rules.h"
#include "recording_sink.h"

using callbacks_test::Advise;
using callbacks_test::LastErrorText;
using callbacks_test::OnOtherThread;
using callbacks_test::RecordingSink;

namespace {

template <class Itf>
Itf* CreateFromLibrary(REFCLSID clsid, REFIID iid) {
    HMODULE library = LoadLibraryW(L"Velview_G_201.ocx");
    if (!library) return nullptr;
    using GetClassObject = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
    if (!get) return nullptr;
    IClassFactory* factory = nullptr;
    if (FAILED(get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return nullptr;
    Itf* object = nullptr;
    factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(&object));
    factory->Release();
    return object;
}

// What a creation on another thread of the process gave: its result and the error text it left.
struct OtherThreadCreation {
    HRESULT hr = E_UNEXPECTED;
    std::wstring description;
};

DWORD WINAPI CreateOnThisThread(void* context) {
    auto* result = static_cast<OtherThreadCreation*>(context);
    CoInitialize(nullptr);
    HMODULE library = LoadLibraryW(L"Velview_G_201.ocx");
    using GetClassObject = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    if (get && SUCCEEDED(get(CLSID_MiniblinkCallBack, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) {
        IUnknown* object = nullptr;
        result->hr = factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object));
        if (object) object->Release();
        result->description = callbacks_test::LastErrorText();
        factory->Release();
    }
    FreeLibrary(library);
    CoUninitialize();
    return 0;
}

std::wstring Take(BSTR text) {
    std::wstring result = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return result;
}

class ClientFixture : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        api_ = CreateFromLibrary<_MiniblinkAPI>(CLSID_MiniblinkAPI, IID__MiniblinkAPI);
        receiver_ = CreateFromLibrary<_MiniblinkCallBack>(CLSID_MiniblinkCallBack, IID__MiniblinkCallBack);
        ASSERT_NE(api_, nullptr);
        ASSERT_NE(receiver_, nullptr);
        api_->wkeInitializeEx(0);
        long view = 0;
        api_->wkeCreateWebView(&view);
        view_ = static_cast<int>(view);
        ASSERT_NE(view_, 0);
    }
    void TearDown() override {
        if (receiver_) receiver_->Release();
        if (api_) api_->Release();
        CoUninitialize();
    }
    _MiniblinkAPI* api_ = nullptr;
    _MiniblinkCallBack* receiver_ = nullptr;
    int view_ = 0;
};

}  // namespace

TEST_F(ClientFixture, TheReceiverNamesItsEventInterfaceAndIds) {
    IProvideClassInfo2* classInfo = nullptr;
    ASSERT_EQ(receiver_->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&classInfo)), S_OK);
    GUID source = GUID_NULL;
    EXPECT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
    EXPECT_TRUE(IsEqualGUID(source, DIID___MiniblinkCallBack));
    classInfo->Release();
    const struct {
        const wchar_t* name;
        DISPID id;
    } members[] = {{L"Return_wkeNetResponseCallback", 0x40030001}, {L"Return_wkeJsNativeFunction", 0x40030003},
                   {L"Return_wkeWindowClosingCallback", 0x4003000a}, {L"wkeNetResponseCallback", 0x4003000b},
                   {L"wkeLoadUrlBeginCallback", 0x4003001f}, {L"wkeWindowDestroyCallback", 0x40030025}};
    for (const auto& m : members) {
        DISPID id = 0;
        LPOLESTR name = const_cast<LPOLESTR>(m.name);
        EXPECT_EQ(receiver_->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK) << m.name;
        EXPECT_EQ(id, m.id) << m.name;
    }
    long stub = 0;
    EXPECT_EQ(receiver_->get_wkeWindowDestroyCallback(&stub), S_OK);
    EXPECT_NE(stub, 0) << "every stub address is made at construction";
}

TEST_F(ClientFixture, ThePagesCommandsAndTheViewsNotificationsReachTheClientsHandler) {
    RecordingSink sink(DIID___MiniblinkCallBack);
    Advise advise(receiver_, DIID___MiniblinkCallBack, &sink);
    ASSERT_EQ(advise.Result(), S_OK);

    long begin = 0, create = 0, download = 0, native = 0;
    receiver_->get_wkeLoadUrlBeginCallback(&begin);
    receiver_->get_wkeCreateViewCallback(&create);
    receiver_->get_wkeDownloadCallback(&download);
    receiver_->get_wkeJsNativeFunction(&native);
    api_->wkeOnLoadUrlBegin(view_, begin, 0);
    api_->wkeOnCreateView(view_, create, 0);
    api_->wkeOnDownload(view_, download, 0);
    BSTR name = SysAllocString(L"onJsCall");
    api_->wkeJsBindFunction(name, native, 0, 2);
    SysFreeString(name);

    std::wstring command, argument;
    sink.onEvent = [&](DISPID id, DISPPARAMS* params) {
        if (id == 6) {  // wkeJsNativeFunction(es, param): read both arguments as the client does
            const long es = params->rgvarg[1].lVal;
            CY first{}, second{};
            api_->jsArg(es, 0, &first);
            api_->jsArg(es, 1, &second);
            BSTR text = nullptr;
            api_->jsToTempStringW(es, first, &text);
            command = Take(text);
            api_->jsToTempStringW(es, second, &text);
            argument = Take(text);
        }
        if (id == 16) receiver_->put_Return_wkeCreateViewCallback(params->rgvarg[4].lVal);  // the same view
        return S_OK;
    };

    const wchar_t* page[] = {L"btn", L"maximize"};
    unsigned long long scriptResult = 1;
    ASSERT_EQ(standinCallBoundStrings("onJsCall", view_, page, 2, &scriptResult), 1);
    EXPECT_EQ(command, L"btn");
    EXPECT_EQ(argument, L"maximize");
    EXPECT_EQ(scriptResult, 0ull) << "Return_wkeJsNativeFunction was never set";

    StandinFireArgs fire{};
    fire.url = L"http://vantorix.test/new";
    unsigned int result = 0xFF;
    ASSERT_EQ(standinFire(view_, "wkeOnCreateView", &fire, &result), 1);
    EXPECT_EQ(static_cast<int>(result), view_) << "the handler handed the engine its own view";
    ASSERT_EQ(standinFire(view_, "wkeOnLoadUrlBegin", &fire, &result), 1);
    EXPECT_EQ(result, 0u) << "Return_wkeLoadUrlBeginCallback never set: false";
    receiver_->put_Return_wkeDownloadCallback(VARIANT_TRUE);
    fire.url = L"http://vantorix.test/file.zip";
    ASSERT_EQ(standinFire(view_, "wkeOnDownload", &fire, &result), 1);
    EXPECT_EQ(result, 1u);

    ASSERT_EQ(sink.events.size(), 4u);
    EXPECT_EQ(sink.events[0].id, 6);
    EXPECT_EQ(sink.events[1].id, 16);
    EXPECT_EQ(sink.events[1].args[3].text, L"http://vantorix.test/new");
    EXPECT_EQ(sink.events[2].id, 21);
    EXPECT_EQ(sink.events[2].args[0].number, view_);
    EXPECT_EQ(sink.events[3].id, 19);
    EXPECT_EQ(sink.events[3].args[2].text, L"http://vantorix.test/file.zip");
}

// Objects share the engine's thread: a second apartment thread of the same host is refused with a text
// that says why, and the first thread's objects go on working.
TEST_F(ClientFixture, CreationOnASecondThreadIsRefusedWithAClearError) {
    OtherThreadCreation other;
    HANDLE thread = CreateThread(nullptr, 0, CreateOnThisThread, &other, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(other.hr, RPC_E_WRONG_THREAD);
    EXPECT_NE(other.description.find(L"thread"), std::wstring::npos) << "no error text";
    long width = -1;
    EXPECT_EQ(api_->wkeGetWidth(view_, &width), S_OK);
    _MiniblinkCallBack* again = CreateFromLibrary<_MiniblinkCallBack>(CLSID_MiniblinkCallBack, IID__MiniblinkCallBack);
    ASSERT_NE(again, nullptr) << "the engine's own thread still creates objects";
    again->Release();
}

// A foreign container finds the events by enumerating the connection points, not only by asking for one.
TEST_F(ClientFixture, TheConnectionPointsCanBeEnumerated) {
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(receiver_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    IEnumConnectionPoints* points = nullptr;
    ASSERT_EQ(container->EnumConnectionPoints(&points), S_OK);
    container->Release();
    IConnectionPoint* found[2] = {};
    ULONG fetched = 9;
    EXPECT_EQ(points->Next(2, found, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    IID events = IID_NULL;
    EXPECT_EQ(found[0]->GetConnectionInterface(&events), S_OK);
    EXPECT_TRUE(IsEqualIID(events, DIID___MiniblinkCallBack));
    found[0]->Release();
    EXPECT_EQ(points->Next(1, found, nullptr), S_FALSE) << "one point only";
    EXPECT_EQ(points->Reset(), S_OK);
    IEnumConnectionPoints* copy = nullptr;
    ASSERT_EQ(points->Clone(&copy), S_OK);
    EXPECT_EQ(points->Skip(1), S_OK);
    EXPECT_EQ(points->Skip(1), S_FALSE);
    points->Release();
    EXPECT_EQ(copy->Next(1, found, nullptr), S_OK) << "the clone keeps its own position";
    found[0]->Release();
    copy->Release();
}

// A C client built against the type library alone: every call by the vtable offset the library describes.
TEST_F(ClientFixture, AnEarlyBoundCClientCallsByTheTypeLibrarysVtableOffsets) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"Velview_G_201.ocx"), path, MAX_PATH);
    long view = 0, width = 0;
    ASSERT_EQ(EarlyBoundWidthRoundTrip(path, api_, 321, &view, &width), 1);
    EXPECT_NE(view, 0);
    EXPECT_EQ(width, 321);
}

// Every entry point of the library's objects answers only on the thread that made them: a raw pointer used
// from another thread is refused with a description, and nothing of the call runs; the same object marshaled
// to that thread serves its proxy there, the calls running on the object's own thread.
TEST_F(ClientFixture, RawCallsFromAnotherThreadAreRefusedAndAProxyIsServed) {
    IConnectionPointContainer* container = nullptr;
    IProvideClassInfo* classInfo = nullptr;
    ASSERT_EQ(receiver_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    ASSERT_EQ(receiver_->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&classInfo)), S_OK);
    IStream* stream = nullptr;
    ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IDispatch, api_, &stream), S_OK);
    LPOLESTR name = const_cast<LPOLESTR>(L"wkeGetWidth");
    DISPID id = 0;
    long width = 0;
    ITypeInfo* typeInfo = nullptr;
    IConnectionPoint* point = nullptr;
    VARIANT view, viaProxy;
    view.vt = VT_I4;
    view.lVal = view_;
    VariantInit(&viaProxy);
    DISPPARAMS params{&view, nullptr, 1, 0};
    const struct {
        const char* what;
        std::function<HRESULT()> call;
    } calls[] = {
        {"a vtable method", [&] { return api_->wkeGetWidth(view_, &width); }},
        {"GetTypeInfo", [&] { return api_->GetTypeInfo(0, 0, &typeInfo); }},
        {"GetIDsOfNames", [&] { return api_->GetIDsOfNames(IID_NULL, &name, 1, 0, &id); }},
        {"Invoke", [&] { return api_->Invoke(16, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr); }},
        {"a property put", [&] { return receiver_->put_Return_wkeLoadUrlBeginCallback(VARIANT_TRUE); }},
        {"FindConnectionPoint", [&] { return container->FindConnectionPoint(DIID___MiniblinkCallBack, &point); }},
        {"GetClassInfo", [&] { return classInfo->GetClassInfo(&typeInfo); }},
    };
    std::vector<HRESULT> results;
    std::vector<std::wstring> texts;
    HRESULT proxied = E_NOINTERFACE;
    standinLogClear();
    ASSERT_TRUE(OnOtherThread([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        for (const auto& c : calls) {
            results.push_back(c.call());
            texts.push_back(LastErrorText());
        }
        IDispatch* proxy = nullptr;
        if (SUCCEEDED(CoGetInterfaceAndReleaseStream(stream, IID_IDispatch, reinterpret_cast<void**>(&proxy)))) {
            proxied = proxy->Invoke(16, IID_NULL, 0, DISPATCH_METHOD, &params, &viaProxy, nullptr, nullptr);
            proxy->Release();
        }
        CoUninitialize();
    }));
    for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i], RPC_E_WRONG_THREAD) << calls[i].what;
        EXPECT_NE(texts[i].find(L"thread that created it"), std::wstring::npos) << calls[i].what;
    }
    EXPECT_EQ(proxied, S_OK) << "the proxy's call (wkeGetWidth) was not served";
    EXPECT_EQ(typeInfo, nullptr);
    EXPECT_EQ(point, nullptr);
    ASSERT_EQ(standinLogCount(), 1) << "a refused call reached the engine, or the proxy's call did not";
    EXPECT_EQ(standinLogFind("wkeGetWidth", 0), 0);
    EXPECT_EQ(api_->wkeGetWidth(view_, &width), S_OK) << "its own thread is served";
    EXPECT_EQ(viaProxy.vt, VT_I4);
    EXPECT_EQ(viaProxy.lVal, width);
    VARIANT_BOOL kept = VARIANT_TRUE;
    EXPECT_EQ(receiver_->get_Return_wkeLoadUrlBeginCallback(&kept), S_OK);
    EXPECT_EQ(kept, VARIANT_FALSE) << "the refused put was carried out";
    classInfo->Release();
    container->Release();
}

// The engine must call back on the receiver's thread; a stub called on another gives the neutral result
// and raises nothing there.
TEST_F(ClientFixture, AnEngineCallbackOnAnotherThreadGetsTheNeutralResultAndRaisesNothing) {
    RecordingSink sink(DIID___MiniblinkCallBack);
    Advise advise(receiver_, DIID___MiniblinkCallBack, &sink);
    long begin = 0;
    receiver_->get_wkeLoadUrlBeginCallback(&begin);
    api_->wkeOnLoadUrlBegin(view_, begin, 0);
    receiver_->put_Return_wkeLoadUrlBeginCallback(VARIANT_TRUE);
    StandinFireArgs fire{};
    fire.url = L"http://vantorix.test/elsewhere";
    unsigned int result = 0xFF;
    int fired = 0;
    ASSERT_TRUE(OnOtherThread([&] { fired = standinFire(view_, "wkeOnLoadUrlBegin", &fire, &result); }));
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(result & 0xFF, 0u);
    EXPECT_TRUE(sink.events.empty()) << "the event was raised on the wrong thread";
    ASSERT_EQ(standinFire(view_, "wkeOnLoadUrlBegin", &fire, &result), 1);
    EXPECT_EQ(result & 0xFF, 1u) << "on its own thread the stub answers";
    EXPECT_EQ(sink.events.size(), 1u);
}
