// Velview and VelviewCls in hosts that are not ours, on the registered library: a window of Wine's ATL
// class "AtlAxWin" created with the control's name, and the registration read back (keys and type
// library members). run_hosts.sh registers the library first and unregisters it at the end.
#include <gtest/gtest.h>
#include <windows.h>
#include <ocidl.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "Velview_G_201.h"
#include "standin.h"
#include "test_container.h"
#include "tests/windows/callbacks/thread_rules.h"

using namespace velview_test;

namespace {

std::wstring ReadDefault(const std::wstring& key, const wchar_t* value = nullptr) {
    wchar_t data[512] = {};
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), value, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return data;
}

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

TEST(AtlHost, AnAtlAxWinWindowRunsTheControlByItsNameWithItsOwnChildView) {
    ASSERT_EQ(OleInitialize(nullptr), S_OK);
    HMODULE atl = LoadLibraryW(L"atl.dll");
    ASSERT_NE(atl, nullptr);
    using Init = BOOL(WINAPI*)();
    using GetControl = HRESULT(WINAPI*)(HWND, IUnknown**);
    auto init = reinterpret_cast<Init>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")));
    auto getControl = reinterpret_cast<GetControl>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxGetControl")));
    ASSERT_TRUE(init && getControl);
    ASSERT_TRUE(init());
    {
        Form form;
        HWND host = CreateWindowExW(0, L"AtlAxWin", L"Velview_G_201.Velview", WS_CHILD | WS_VISIBLE, 0, 0, 400,
                                    300, form.window(), nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(host, nullptr);
        PumpMessages();
        IUnknown* unknown = nullptr;
        ASSERT_EQ(getControl(host, &unknown), S_OK);
        _Velview* control = nullptr;
        ASSERT_EQ(unknown->QueryInterface(IID__Velview, reinterpret_cast<void**>(&control)), S_OK);
        unknown->Release();

        VARIANT_BOOL runMode = VARIANT_FALSE;
        control->get_RunMode(&runMode);
        EXPECT_EQ(runMode, VARIANT_TRUE);
        long view = 0;
        control->GetWebWindow(&view);
        ASSERT_NE(view, 0) << "shown in run mode: the engine view exists";
        const Standin& engine = Standin::Get();
        ASSERT_TRUE(engine.ok());
        HWND viewWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(engine.standinViewWindow(view)));
        EXPECT_TRUE(IsChild(host, viewWindow)) << "the view lives inside the ATL host window";

        auto* sink = new EventSink(DIID___Velview);
        EXPECT_NE(Connect(control, DIID___Velview, sink), 0u);
        BSTR url = SysAllocString(L"http://atl.test/");
        control->LoadURL(url);
        SysFreeString(url);
        StandinFireArgs none{};
        unsigned result = 1;
        ASSERT_EQ(engine.standinFire(view, "wkeOnDocumentReady", &none, &result), 1);
        ASSERT_EQ(sink->events.size(), 1u);
        EXPECT_EQ(sink->events[0].texts, std::vector<std::wstring>{L"http://atl.test/"});

        engine.standinLogClear();
        MoveWindow(host, 0, 0, 321, 123, TRUE);
        PumpMessages();
        auto resized = engine.Find("wkeResize");
        ASSERT_FALSE(resized.empty()) << "the view follows the host window";
        EXPECT_EQ(engine.standinLogArgValue(resized.back(), 1), 321u);
        EXPECT_EQ(engine.standinLogArgValue(resized.back(), 2), 123u);

        // Deactivated and activated again through ATL's own site, with an unused-library sweep between, as
        // a container that re-creates its windows does: the same view comes back and still raises events.
        IOleInPlaceObject* inPlace = nullptr;
        ASSERT_EQ(control->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)), S_OK);
        EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
        inPlace->Release();
        CoFreeUnusedLibraries();
        IOleObject* ole = nullptr;
        ASSERT_EQ(control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole)), S_OK);
        IOleClientSite* site = nullptr;
        ole->GetClientSite(&site);
        ASSERT_NE(site, nullptr);
        RECT area{};
        GetClientRect(host, &area);
        EXPECT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, host, &area), S_OK);
        site->Release();
        ole->Release();
        PumpMessages();
        EXPECT_TRUE(IsChild(host, viewWindow)) << "the view is back inside the ATL host window";
        EXPECT_TRUE(IsWindowVisible(viewWindow));
        sink->events.clear();
        ASSERT_EQ(engine.standinFire(view, "wkeOnDocumentReady", &none, &result), 1);
        EXPECT_EQ(sink->events.size(), 1u);

        control->Release();
        sink->Release();
        DestroyWindow(host);
    }
    OleUninitialize();
}

struct Member {
    const wchar_t* name;
    MEMBERID id;
};

std::map<std::wstring, MEMBERID> MembersOf(ITypeLib* lib, REFGUID guid) {
    std::map<std::wstring, MEMBERID> members;
    ITypeInfo* info = nullptr;
    if (FAILED(lib->GetTypeInfoOfGuid(guid, &info))) return members;
    TYPEATTR* attr = nullptr;
    info->GetTypeAttr(&attr);
    ITypeInfo* dispatch = info;
    HREFTYPE ref = 0;
    // A dual interface lists its members on the dispatch side too; read the interface side itself.
    for (UINT f = 0; f < attr->cFuncs; ++f) {
        FUNCDESC* desc = nullptr;
        if (FAILED(dispatch->GetFuncDesc(f, &desc))) continue;
        BSTR name = nullptr;
        dispatch->GetDocumentation(desc->memid, &name, nullptr, nullptr, nullptr);
        if (name) members[name] = desc->memid;
        SysFreeString(name);
        dispatch->ReleaseFuncDesc(desc);
    }
    (void)ref;
    info->ReleaseTypeAttr(attr);
    info->Release();
    return members;
}

TEST(Registered, TheControlAndTheObjectAreRegisteredUnderBothNames) {
    struct Class {
        const CLSID* clsid;
        const wchar_t* name;
        bool control;
    } classes[] = {{&CLSID_Velview, L"Velview", true}, {&CLSID_VelviewCls, L"VelviewCls", false}};
    for (const Class& c : classes) {
        const std::wstring key = L"CLSID\\" + GuidText(*c.clsid);
        const std::wstring progId = std::wstring(L"Velview_G_201.") + c.name;
        EXPECT_EQ(ReadDefault(key + L"\\InprocServer32", L"ThreadingModel"), L"Apartment") << c.name;
        EXPECT_EQ(ReadDefault(key + L"\\ProgID"), progId + L".1") << c.name;
        EXPECT_EQ(ReadDefault(key + L"\\VersionIndependentProgID"), progId) << c.name;
        EXPECT_EQ(ReadDefault(progId + L"\\CLSID"), GuidText(*c.clsid)) << c.name;
        EXPECT_EQ(ReadDefault(progId + L".1\\CLSID"), GuidText(*c.clsid)) << c.name;
        EXPECT_EQ(ReadDefault(key + L"\\TypeLib"), GuidText(LIBID_Velview_G_201)) << c.name;
        EXPECT_EQ(ReadDefault(key + L"\\Control") != L"<missing>", c.control) << c.name;
    }
    EXPECT_EQ(ReadDefault(L"CLSID\\" + GuidText(CLSID_Velview) + L"\\MiscStatus\\1"), L"131473");
}

// The toolbox picture the registration names ("<library>, <resource id>") is in the library.
TEST(Registered, TheToolboxBitmapTheRegistrationNamesExists) {
    const std::wstring entry = ReadDefault(L"CLSID\\" + GuidText(CLSID_Velview) + L"\\ToolboxBitmap32");
    const auto comma = entry.rfind(L',');
    ASSERT_NE(comma, std::wstring::npos) << entry;
    const std::wstring path = entry.substr(0, comma);
    const int id = _wtoi(entry.c_str() + comma + 1);
    HMODULE library = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(library, nullptr) << path;
    HBITMAP picture = static_cast<HBITMAP>(LoadImageW(library, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, 0));
    ASSERT_NE(picture, nullptr) << "no bitmap " << id;
    BITMAP info{};
    GetObjectW(picture, sizeof info, &info);
    EXPECT_EQ(info.bmWidth, 16);
    EXPECT_EQ(info.bmHeight, 16);
    DeleteObject(picture);
    FreeLibrary(library);
}

TEST(Registered, TheTypeLibraryListsEveryMemberAndEventWithItsId) {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadRegTypeLib(LIBID_Velview_G_201, 1, 0, LOCALE_NEUTRAL, &lib), S_OK);
    const std::map<std::wstring, MEMBERID> common = {
        {L"MouseEnabled", 0x68030000}, {L"TouchEnabled", 0x68030001}, {L"userAgent", 0x68030002}};
    const std::map<std::wstring, MEMBERID> events = {
        {L"DocumentReady", 1}, {L"LoadUrlBegin", 2}, {L"jsCall", 3}, {L"ShowNewView", 4}, {L"LoadUrlEnd", 5}};
    std::map<std::wstring, MEMBERID> control = common, object = common;
    control[L"RunMode"] = 0x68030003;
    const wchar_t* methods[] = {L"LoadURL",        L"LoadHtml",           L"LoadFile",           L"GetWebWindow",
                                L"RunJs",          L"GetEs",              L"IsLoadComplete",     L"IsDocumentReady",
                                L"SendMouseEvent", L"SendMouseWheelEvent", L"NetHookRequest"};
    for (int i = 0; i < 11; ++i) {
        control[methods[i]] = 0x60030006 + i;
        object[methods[i]] = 0x60030004 + i;
    }
    auto withoutIDispatch = [](std::map<std::wstring, MEMBERID> m) {
        for (const wchar_t* n : {L"QueryInterface", L"AddRef", L"Release", L"GetTypeInfoCount", L"GetTypeInfo",
                                 L"GetIDsOfNames", L"Invoke"})
            m.erase(n);
        return m;
    };
    EXPECT_EQ(withoutIDispatch(MembersOf(lib, IID__Velview)), control);
    EXPECT_EQ(withoutIDispatch(MembersOf(lib, IID__VelviewCls)), object);
    EXPECT_EQ(withoutIDispatch(MembersOf(lib, DIID___Velview)), events);
    EXPECT_EQ(withoutIDispatch(MembersOf(lib, DIID___VelviewCls)), events);
    lib->Release();
    CoUninitialize();
}

// A host that frees unused libraries when idle, as form runtimes and browsers do, while the engine still
// holds a receiver's entry: the library stays mapped and the late callback lands safely. Run in a process of
// its own (run_hosts.sh), so no earlier test has kept the library loaded.
TEST(Unload, FreeingUnusedLibrariesLeavesTheEnginesCallbacksRunnable) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    _MiniblinkAPI* api = nullptr;
    _MiniblinkCallBack* receiver = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_MiniblinkAPI, nullptr, CLSCTX_INPROC_SERVER, IID__MiniblinkAPI,
                               reinterpret_cast<void**>(&api)), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_MiniblinkCallBack, nullptr, CLSCTX_INPROC_SERVER, IID__MiniblinkCallBack,
                               reinterpret_cast<void**>(&receiver)), S_OK);
    api->wkeInitializeEx(0);
    long view = 0, begin = 0;
    api->wkeCreateWebView(&view);
    ASSERT_NE(view, 0);
    receiver->get_wkeLoadUrlBeginCallback(&begin);
    api->wkeOnLoadUrlBegin(view, begin, 0);
    const Standin& engine = Standin::Get();
    ASSERT_TRUE(engine.ok());
    receiver->Release();
    api->Release();
    CoFreeUnusedLibraries();
    ASSERT_NE(GetModuleHandleW(L"Velview_G_201.ocx"), nullptr) << "unloaded while the engine holds its entry";
    StandinFireArgs fire{};
    fire.url = L"http://late.test/";
    unsigned result = 0xFF;
    ASSERT_EQ(engine.standinFire(view, "wkeOnLoadUrlBegin", &fire, &result), 1);
    EXPECT_EQ(result, 0u) << "the released receiver's entry answers false";
    CoUninitialize();
}

TEST(Unregistered, NeitherClassIsLeft) {
    for (const CLSID* clsid : {&CLSID_Velview, &CLSID_VelviewCls})
        EXPECT_EQ(ReadDefault(L"CLSID\\" + GuidText(*clsid) + L"\\InprocServer32"), L"<missing>");
    for (const wchar_t* progId : {L"Velview_G_201.Velview", L"Velview_G_201.Velview.1", L"Velview_G_201.VelviewCls",
                                  L"Velview_G_201.VelviewCls.1"})
        EXPECT_EQ(ReadDefault(std::wstring(progId) + L"\\CLSID"), L"<missing>") << progId;
}

// A container lists the control's verbs from the registry (EnumVerbs), and each one it lists is a verb the
// control carries out.
TEST(Registered, TheControlsRegisteredVerbsAreTheOnesItCarriesOut) {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    {
        Form form;
        _Velview* control = form.Place(RECT{0, 0, 200, 100});
        ASSERT_NE(control, nullptr);
        IOleObject* ole = nullptr;
        ASSERT_EQ(control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole)), S_OK);
        IEnumOLEVERB* verbs = nullptr;
        ASSERT_EQ(ole->EnumVerbs(&verbs), S_OK);
        IOleClientSite* site = nullptr;
        ole->GetClientSite(&site);
        std::vector<LONG> listed;
        OLEVERB verb{};
        while (verbs->Next(1, &verb, nullptr) == S_OK) {
            listed.push_back(verb.lVerb);
            CoTaskMemFree(verb.lpszVerbName);
            const RECT area{0, 0, 200, 100};
            EXPECT_EQ(ole->DoVerb(verb.lVerb, nullptr, site, 0, form.window(), &area), S_OK) << verb.lVerb;
        }
        verbs->Release();
        EXPECT_NE(std::find(listed.begin(), listed.end(), OLEIVERB_PRIMARY), listed.end()) << "no primary verb";
        EXPECT_EQ(ole->DoVerb(7, nullptr, site, 0, form.window(), nullptr), OLEOBJ_S_INVALIDVERB);
        site->Release();
        ole->Release();
        control->Release();
    }
    OleUninitialize();
}

// An MTA thread that creates an object once another thread runs the engine is refused, and the refusal's
// description reaches that thread (COM would otherwise make the attempt in an apartment of its own).
TEST(Registered, ACreationRefusedOnAnMtaThreadCarriesItsDescription) {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    _MiniblinkAPI* api = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_MiniblinkAPI, nullptr, CLSCTX_INPROC_SERVER, IID__MiniblinkAPI,
                               reinterpret_cast<void**>(&api)), S_OK);
    HRESULT hr = S_OK;
    std::wstring text = L"<none>";
    ASSERT_TRUE(callbacks_test::OnOtherThread([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        IUnknown* object = nullptr;
        hr = CoCreateInstance(CLSID_MiniblinkAPI, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                              reinterpret_cast<void**>(&object));
        if (object) object->Release();
        text = callbacks_test::LastErrorText();
        CoUninitialize();
    }));
    EXPECT_EQ(hr, RPC_E_WRONG_THREAD);
    EXPECT_NE(text.find(L"thread"), std::wstring::npos) << text;
    api->Release();
    CoUninitialize();
}

}  // namespace

// ---- reloads -----------------------------------------------------------------------------------------------
// Run in a process of their own (run_hosts.sh), so that nothing before has kept the library loaded.

namespace {

// The handles this process holds, as the system counts them.
long HandleCount() {
    struct Entry {  // SYSTEM_HANDLE_TABLE_ENTRY_INFO
        ULONG process;
        UCHAR type, flags;
        USHORT handle;
        void* object;
        ACCESS_MASK access;
    };
    using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    const auto query =
        reinterpret_cast<Query>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<unsigned char> buffer(1 << 22);
    ULONG length = 0;
    constexpr ULONG kSystemHandleInformation = 16;
    if (!query || query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &length) != 0)
        return -1;
    const ULONG count = *reinterpret_cast<ULONG*>(buffer.data());
    const auto* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(ULONG_PTR));
    long mine = 0;
    for (ULONG i = 0; i < count; ++i) mine += entries[i].process == GetCurrentProcessId();
    return mine;
}

// Committed private memory of this process, in bytes.
std::size_t PrivateBytes() {
    std::size_t total = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return total;
}

// A host that frees unused libraries between uses, as form runtimes and browsers do when idle: the library,
// once used, stays loaded, so ten sweeps lose nothing (each unload and load of it lost handles and memory).
TEST(Reload, TenUnusedLibrarySweepsLoseNoHandlesAndNoMemory) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    auto useAndSweep = [] {
        _MiniblinkAPI* api = nullptr;
        const HRESULT hr = CoCreateInstance(CLSID_MiniblinkAPI, nullptr, CLSCTX_INPROC_SERVER, IID__MiniblinkAPI,
                                            reinterpret_cast<void**>(&api));
        if (api) api->Release();
        CoFreeUnusedLibraries();
        return hr;
    };
    ASSERT_EQ(useAndSweep(), S_OK);
    EXPECT_NE(GetModuleHandleW(L"Velview_G_201.ocx"), nullptr) << "the library went with the sweep";
    const long handles = HandleCount();
    const std::size_t bytes = PrivateBytes();
    ASSERT_GT(handles, 0);
    for (int sweep = 0; sweep < 10; ++sweep) ASSERT_EQ(useAndSweep(), S_OK);
    const long handlesAfter = HandleCount();
    const std::size_t bytesAfter = PrivateBytes();
    std::printf("ten sweeps: handles %ld -> %ld, private bytes %zu -> %zu\n", handles, handlesAfter, bytes, bytesAfter);
    EXPECT_EQ(handlesAfter, handles);
    // One load of the library's static runtime takes about 20 KB that no unload gives back.
    EXPECT_LT(bytesAfter, bytes + 16 * 1024);
    CoUninitialize();
}

}  // namespace
